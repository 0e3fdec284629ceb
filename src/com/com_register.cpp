// DllRegisterServer and DllUnregisterServer: the class with its in-process
// server and threading model, the programmatic identifier, the type library
// and, through the type library, the automation interface.
//
// On 64-bit Windows the CLSID key exists once per registry view (32-bit and
// 64-bit), while the programmatic identifier and the type library key are
// shared, and registering the type library records the interface keys in
// both views. A 32-bit and a 64-bit copy of the library can therefore be
// registered side by side; unregistering one must leave everything shared in
// place while the other view still serves the class.
#include <olectl.h>

#include <new>
#include <string>

#include "com_module.hpp"

namespace qv_com {
namespace {

constexpr wchar_t kThreadingModel[] = L"Apartment";
constexpr wchar_t kLibraryVersion[] = L"7.0";
constexpr WORD kLibraryMajor = 7;
constexpr WORD kLibraryMinor = 0;
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
// The registry view of the other bitness.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::wstring GuidText(REFGUID guid) {
  wchar_t buffer[40] = {};
  const int n = StringFromGUID2(guid, buffer, 40);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n - 1) : 0);
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_qvVCard); }

// Creates HKCR\subkey and sets one string value (name nullptr: the default).
LSTATUS SetString(const std::wstring& subkey, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status;
}

LSTATUS CreateEmptyKey(const std::wstring& subkey) {
  HKEY key = nullptr;
  const LSTATUS status =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

bool KeyExists(const std::wstring& subkey, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

LSTATUS DeleteTree(const std::wstring& subkey) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, subkey.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

HRESULT RegisterClassKeys(const std::wstring& path) {
  const std::wstring clsid = GuidText(CLSID_qvVCard);
  const std::wstring key = ClassKey();
  const LSTATUS statuses[] = {
      SetString(key, nullptr, kProgId),
      SetString(key + L"\\InprocServer32", nullptr, path),
      SetString(key + L"\\InprocServer32", L"ThreadingModel", kThreadingModel),
      SetString(key + L"\\ProgID", nullptr, kProgId),
      SetString(key + L"\\VERSION", nullptr, kLibraryVersion),
      SetString(key + L"\\TypeLib", nullptr, GuidText(LIBID_qv_VCard)),
      CreateEmptyKey(key + L"\\Programmable"),
      SetString(kProgId, nullptr, kProgId),
      SetString(std::wstring(kProgId) + L"\\Clsid", nullptr, clsid),
  };
  for (LSTATUS status : statuses) {
    if (status != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return S_OK;
}

// Registers the type library embedded in this file. The library is loaded
// without registration and registered with the plain module path (loading
// with REGKIND_REGISTER may record a path in \\?\ form).
HRESULT RegisterLibrary(const std::wstring& path) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  std::wstring directory = path.substr(0, path.find_last_of(L"\\/") + 1);
  hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()),
                       directory.empty() ? nullptr : directory.data());
  library->Release();
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

bool OtherBitnessRegistered() { return KeyExists(ClassKey() + L"\\InprocServer32", kOtherView); }

HRESULT Unregister() {
  HRESULT result = S_OK;
  if (OtherBitnessRegistered()) {
    // The type library key is shared by both views, and the interface keys
    // recorded with it serve both: remove only this bitness's entry.
    const std::wstring entry = L"TypeLib\\" + GuidText(LIBID_qv_VCard) + L"\\" + kLibraryVersion +
                               L"\\0\\" + (kSysKind == SYS_WIN64 ? L"win64" : L"win32");
    if (DeleteTree(entry) != ERROR_SUCCESS) result = SELFREG_E_TYPELIB;
  } else {
    // The last copy: the type library goes with the interface keys it
    // recorded; "not registered" is not an error here.
    const HRESULT hr =
        UnRegisterTypeLib(LIBID_qv_VCard, kLibraryMajor, kLibraryMinor, LOCALE_NEUTRAL, kSysKind);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY &&
        hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      result = SELFREG_E_TYPELIB;
    }
  }
  if (DeleteTree(ClassKey()) != ERROR_SUCCESS) result = SELFREG_E_CLASS;
  // The programmatic identifier is shared too: it stays while the other
  // view still serves the class.
  if (!OtherBitnessRegistered()) {
    if (DeleteTree(kProgId) != ERROR_SUCCESS) result = SELFREG_E_CLASS;
  }
  return result;
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    HRESULT hr = RegisterLibrary(path);
    if (SUCCEEDED(hr)) hr = RegisterClassKeys(path);
    if (FAILED(hr)) Unregister();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer() noexcept {
  try {
    return Unregister();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace qv_com
