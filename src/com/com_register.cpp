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
    HKEY key = nullptr;
    LSTATUS status = Create(subkey, KEY_SET_VALUE | view, &key);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
  }

  LSTATUS CreateEmpty(const std::wstring& subkey) const {
    HKEY key = nullptr;
    const LSTATUS status = Create(subkey, KEY_WRITE, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }

  bool Exists(const std::wstring& subkey, REGSAM view = 0) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, Path(subkey).c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
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
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(
        root_, Path(subkey).c_str(), 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteKeyExW(root_, Path(subkey).c_str(), view, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }

  // Deletes subkey when it has neither subkeys nor values left.
  LSTATUS DeleteIfEmpty(const std::wstring& subkey) const {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root_, Path(subkey).c_str(), 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    DWORD subkeys = 0, values = 0;
    status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
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
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return SELFREG_E_TYPELIB;
  BSTR name = nullptr;
  BSTR help = nullptr;
  BSTR interface_name = nullptr;
  TLIBATTR* attr = nullptr;
  ITypeInfo* info = nullptr;
  TYPEATTR* type = nullptr;
  HRESULT hr = library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
  if (SUCCEEDED(hr)) hr = library->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(IID__qvVCard, &info);
  if (SUCCEEDED(hr)) hr = info->GetTypeAttr(&type);
  if (SUCCEEDED(hr))
    hr = info->GetDocumentation(MEMBERID_NIL, &interface_name, nullptr, nullptr, nullptr);
  bool ok = SUCCEEDED(hr) && name != nullptr && interface_name != nullptr &&
            type->typekind == TKIND_DISPATCH && attr->lcid == 0;
  if (ok) {
    const std::wstring title = help != nullptr && SysStringLen(help) != 0 ? help : name;
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
                    classes.SetString(key, nullptr, interface_name, view),
                    classes.SetString(key + L"\\ProxyStubClsid", nullptr, kAutomationProxy, view),
                    classes.SetString(key + L"\\ProxyStubClsid32", nullptr, kAutomationProxy, view),
                    classes.SetString(key + L"\\TypeLib", nullptr, GuidText(LIBID_qv_VCard), view),
                    classes.SetString(key + L"\\TypeLib", L"Version", kLibraryVersion, view),
                });
    }
  }
  if (type != nullptr) info->ReleaseTypeAttr(type);
  if (info != nullptr) info->Release();
  if (attr != nullptr) library->ReleaseTLibAttr(attr);
  SysFreeString(name);
  SysFreeString(help);
  SysFreeString(interface_name);
  library->Release();
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
