// Registration of the server, machine-wide (DllRegisterServer,
// DllUnregisterServer) or for the current user (DllInstall with "user"):
// the class with its in-process server and threading model, the
// programmatic identifier, the type library and the automation interface.
//
// Both scopes write the same keys, under HKLM\Software\Classes or under
// HKCU\Software\Classes, and never through HKEY_CLASSES_ROOT: that key is a
// merged view in which a write or a delete lands in the user's keys whenever
// they exist, so a machine-wide registration made through it would end up
// in, or remove, a per-user one. For the same reason the type library and
// interface keys are written here rather than by RegisterTypeLib (which goes
// through the merged view; its per-user variant is machine-wide on some
// systems). The values are those RegisterTypeLib records.
//
// On 64-bit Windows the CLSID and Interface keys exist once per registry
// view (32-bit and 64-bit), while the programmatic identifier and the type
// library key are shared. A 32-bit and a 64-bit copy of the library can
// therefore be registered side by side in each scope; unregistering one
// leaves everything shared in place while the other view still serves the
// class. The interface keys are written to both views, as RegisterTypeLib
// does, since clients of either bitness marshal the interface.
#include <olectl.h>
#include <wrl/client.h>

#include <initializer_list>
#include <new>
#include <string>

#include "com_module.hpp"

namespace qv_com {
namespace {

constexpr wchar_t kThreadingModel[] = L"Apartment";
constexpr wchar_t kLibraryVersion[] = L"7.0";
constexpr bool kIs64 = sizeof(void*) == 8;
constexpr const wchar_t* kPlatform = kIs64 ? L"win64" : L"win32";
// The library's locale (neutral), under which its file is recorded.
constexpr wchar_t kLocale[] = L"0";
// The registry view of the other bitness.
constexpr REGSAM kOtherView = kIs64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr REGSAM kBothViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
// The automation marshaler, the proxy of every dual or automation interface.
constexpr wchar_t kAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";

using Microsoft::WRL::ComPtr;

// An open registry key, closed when its owner goes.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const noexcept { return key_; }
  // Where an API puts the key it opens (closing any this one held).
  HKEY* put() noexcept {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

// A BSTR received from an API, freed when its owner goes.
class Bstr {
 public:
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR get() const noexcept { return text_; }
  BSTR* put() noexcept {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }

 private:
  BSTR text_ = nullptr;
};

// The attributes of a type library and of a type, given back to their
// owner when these go.
class LibraryAttributes {
 public:
  explicit LibraryAttributes(ITypeLib* library) noexcept : library_(library) {}
  LibraryAttributes(const LibraryAttributes&) = delete;
  LibraryAttributes& operator=(const LibraryAttributes&) = delete;
  ~LibraryAttributes() {
    if (attr_ != nullptr) library_->ReleaseTLibAttr(attr_);
  }
  HRESULT Get() { return library_->GetLibAttr(&attr_); }
  const TLIBATTR* operator->() const noexcept { return attr_; }

 private:
  ITypeLib* library_;
  TLIBATTR* attr_ = nullptr;
};

class TypeAttributes {
 public:
  explicit TypeAttributes(ITypeInfo* info) noexcept : info_(info) {}
  TypeAttributes(const TypeAttributes&) = delete;
  TypeAttributes& operator=(const TypeAttributes&) = delete;
  ~TypeAttributes() {
    if (attr_ != nullptr) info_->ReleaseTypeAttr(attr_);
  }
  HRESULT Get() { return info_->GetTypeAttr(&attr_); }
  const TYPEATTR* operator->() const noexcept { return attr_; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

std::wstring GuidText(REFGUID guid) {
  wchar_t buffer[40] = {};
  const int n = StringFromGUID2(guid, buffer, 40);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n - 1) : 0);
}

// The classes key of one scope: Software\Classes of the machine or the user.
class Classes {
 public:
  explicit Classes(Scope scope)
      : root_(scope == Scope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) {}

  // Creates subkey (in view) and sets one string value (name nullptr: the
  // default value).
  LSTATUS SetString(const std::wstring& subkey, const wchar_t* name, const std::wstring& value,
                    REGSAM view = 0) const {
    RegKey key;
    const LSTATUS status = Create(subkey, KEY_SET_VALUE | view, key.put());
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  LSTATUS CreateEmpty(const std::wstring& subkey) const {
    RegKey key;
    return Create(subkey, KEY_WRITE, key.put());
  }

  bool Exists(const std::wstring& subkey, REGSAM view = 0) const {
    RegKey key;
    return RegOpenKeyExW(root_, Path(subkey).c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
  }

  // The default value of subkey, empty when there is none.
  std::wstring Read(const std::wstring& subkey, REGSAM view = 0) const {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(root_, Path(subkey).c_str(), nullptr, RRF_RT_REG_SZ | RegGetViewFlag(view),
                     nullptr, buffer, &size) != ERROR_SUCCESS) {
      return std::wstring();
    }
    return buffer;
  }

  // Deletes subkey with everything below it; a missing key is no error.
  LSTATUS DeleteTree(const std::wstring& subkey, REGSAM view = 0) const {
    LSTATUS status;
    {
      RegKey key;
      status = RegOpenKeyExW(
          root_, Path(subkey).c_str(), 0,
          DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, key.put());
      if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
      if (status != ERROR_SUCCESS) return status;
      status = RegDeleteTreeW(key.get(), nullptr);
    }  // closed before the key itself goes
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteKeyExW(root_, Path(subkey).c_str(), view, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }

  // Deletes subkey when it has neither subkeys nor values left.
  LSTATUS DeleteIfEmpty(const std::wstring& subkey) const {
    LSTATUS status;
    DWORD subkeys = 0, values = 0;
    {
      RegKey key;
      status = RegOpenKeyExW(root_, Path(subkey).c_str(), 0, KEY_QUERY_VALUE, key.put());
      if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
      if (status != ERROR_SUCCESS) return status;
      status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                &values, nullptr, nullptr, nullptr, nullptr);
    }  // closed before the key itself goes
    if (status != ERROR_SUCCESS) return status;
    if (subkeys != 0 || values != 0) return ERROR_SUCCESS;
    status = RegDeleteKeyExW(root_, Path(subkey).c_str(), 0, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }

 private:
  static std::wstring Path(const std::wstring& subkey) { return L"Software\\Classes\\" + subkey; }

  static DWORD RegGetViewFlag(REGSAM view) {
    if (view == KEY_WOW64_32KEY) return RRF_SUBKEY_WOW6432KEY;
    if (view == KEY_WOW64_64KEY) return RRF_SUBKEY_WOW6464KEY;
    return 0;
  }

  LSTATUS Create(const std::wstring& subkey, REGSAM access, HKEY* key) const {
    return RegCreateKeyExW(root_, Path(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                           nullptr, key, nullptr);
  }

  HKEY root_;
};

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_qvVCard); }
std::wstring LibraryKey() { return L"TypeLib\\" + GuidText(LIBID_qv_VCard); }
std::wstring VersionKey() { return LibraryKey() + L"\\" + kLibraryVersion; }
std::wstring InterfaceKey() { return L"Interface\\" + GuidText(IID__qvVCard); }

bool AllSucceeded(std::initializer_list<LSTATUS> statuses) {
  for (LSTATUS status : statuses) {
    if (status != ERROR_SUCCESS) return false;
  }
  return true;
}

HRESULT RegisterClassKeys(const Classes& classes, const std::wstring& path) {
  const std::wstring key = ClassKey();
  const bool ok = AllSucceeded({
      classes.SetString(key, nullptr, kProgId),
      classes.SetString(key + L"\\InprocServer32", nullptr, path),
      classes.SetString(key + L"\\InprocServer32", L"ThreadingModel", kThreadingModel),
      classes.SetString(key + L"\\ProgID", nullptr, kProgId),
      classes.SetString(key + L"\\VERSION", nullptr, kLibraryVersion),
      classes.SetString(key + L"\\TypeLib", nullptr, GuidText(LIBID_qv_VCard)),
      classes.CreateEmpty(key + L"\\Programmable"),
      classes.SetString(kProgId, nullptr, kProgId),
      classes.SetString(std::wstring(kProgId) + L"\\Clsid", nullptr, GuidText(CLSID_qvVCard)),
  });
  return ok ? S_OK : SELFREG_E_CLASS;
}

// The type library embedded in this file, with its interface, as
// RegisterTypeLib records them: the library's name (or help string), its
// flags, its help folder and this file as the library of this bitness; the
// automation interface with the automation marshaler as its proxy.
HRESULT RegisterLibraryKeys(const Classes& classes, const std::wstring& path) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return SELFREG_E_TYPELIB;
  Bstr name;
  Bstr help;
  Bstr interface_name;
  LibraryAttributes attr(library.Get());
  ComPtr<ITypeInfo> info;
  HRESULT hr = library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr);
  if (SUCCEEDED(hr)) hr = attr.Get();
  if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(IID__qvVCard, &info);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  TypeAttributes type(info.Get());
  hr = type.Get();
  if (SUCCEEDED(hr)) {
    hr = info->GetDocumentation(MEMBERID_NIL, interface_name.put(), nullptr, nullptr, nullptr);
  }
  bool ok = SUCCEEDED(hr) && name.get() != nullptr && interface_name.get() != nullptr &&
            type->typekind == TKIND_DISPATCH && attr->lcid == 0;
  if (ok) {
    const std::wstring title =
        help.get() != nullptr && SysStringLen(help.get()) != 0 ? help.get() : name.get();
    // LIBFLAG_FHASDISKIMAGE describes the loaded copy, not the library.
    const std::wstring flags = std::to_wstring(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    const std::wstring directory = path.substr(0, path.find_last_of(L"\\/") + 1);
    const std::wstring version = VersionKey();
    ok = AllSucceeded({
        classes.SetString(version, nullptr, title),
        classes.SetString(version + L"\\FLAGS", nullptr, flags),
        classes.SetString(version + L"\\HELPDIR", nullptr, directory),
        classes.SetString(version + L"\\" + kLocale + L"\\" + kPlatform, nullptr, path),
    });
    const std::wstring key = InterfaceKey();
    for (REGSAM view : kBothViews) {
      ok =
          ok && AllSucceeded({
                    classes.SetString(key, nullptr, interface_name.get(), view),
                    classes.SetString(key + L"\\ProxyStubClsid", nullptr, kAutomationProxy, view),
                    classes.SetString(key + L"\\ProxyStubClsid32", nullptr, kAutomationProxy, view),
                    classes.SetString(key + L"\\TypeLib", nullptr, GuidText(LIBID_qv_VCard), view),
                    classes.SetString(key + L"\\TypeLib", L"Version", kLibraryVersion, view),
                });
    }
  }
  return ok ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT Unregister(const Classes& classes) {
  HRESULT result = S_OK;
  if (classes.DeleteTree(ClassKey()) != ERROR_SUCCESS) result = SELFREG_E_CLASS;
  // Decided after this view's class is gone: where the system keeps one
  // class key for both bitnesses, the other copy is then gone as well.
  if (classes.Exists(ClassKey() + L"\\InprocServer32", kOtherView)) {
    // The other bitness still serves the class: the shared type library key
    // and the interface keys stay; only this bitness's entry goes.
    if (classes.DeleteTree(VersionKey() + L"\\" + kLocale + L"\\" + kPlatform) != ERROR_SUCCESS) {
      result = SELFREG_E_TYPELIB;
    }
    return result;
  }
  // The last copy in this scope: everything goes. The interface key is
  // removed only while it still belongs to this library.
  if (classes.DeleteTree(VersionKey()) != ERROR_SUCCESS ||
      classes.DeleteIfEmpty(LibraryKey()) != ERROR_SUCCESS) {
    result = SELFREG_E_TYPELIB;
  }
  for (REGSAM view : kBothViews) {
    const std::wstring library = classes.Read(InterfaceKey() + L"\\TypeLib", view);
    if (library.empty() || lstrcmpiW(library.c_str(), GuidText(LIBID_qv_VCard).c_str()) == 0) {
      if (classes.DeleteTree(InterfaceKey(), view) != ERROR_SUCCESS) result = SELFREG_E_TYPELIB;
    }
  }
  if (classes.DeleteTree(kProgId) != ERROR_SUCCESS) result = SELFREG_E_CLASS;
  return result;
}

}  // namespace

HRESULT RegisterServer(Scope scope) noexcept {
  try {
    const Classes classes(scope);
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    HRESULT hr = RegisterLibraryKeys(classes, path);
    if (SUCCEEDED(hr)) hr = RegisterClassKeys(classes, path);
    if (FAILED(hr)) Unregister(classes);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer(Scope scope) noexcept {
  try {
    return Unregister(Classes(scope));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace qv_com
