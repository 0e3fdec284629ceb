// Entry points of qv_VCard.dll: DllMain, the class factory, DllGetClassObject,
// DllCanUnloadNow and the registration entry points, and the process-wide
// state they share.
#include <wrl/client.h>

#include <new>
#include <string>

#include "com_module.hpp"

namespace qv_com {
namespace {

using Microsoft::WRL::ComPtr;

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;
ITypeInfo* g_type_info = nullptr;  // cached; swapped in and out atomically

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its references do not keep the library loaded,
  // only LockServer does (as COM expects of in-process servers).
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return CreateCardObject(riid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      Lock();
    } else {
      Unlock();
    }
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

HMODULE Module() noexcept { return g_module; }
void SetModule(HMODULE module) noexcept { g_module = module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

void ObjectCreated() noexcept { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() noexcept { InterlockedDecrement(&g_objects); }
void Lock() noexcept { InterlockedIncrement(&g_locks); }
void Unlock() noexcept { InterlockedDecrement(&g_locks); }
bool InUse() noexcept {
  return InterlockedCompareExchange(&g_objects, 0, 0) != 0 ||
         InterlockedCompareExchange(&g_locks, 0, 0) != 0;
}

HRESULT InterfaceTypeInfo(ITypeInfo** out) noexcept {
  *out = nullptr;
  ITypeInfo* cached = static_cast<ITypeInfo*>(InterlockedCompareExchangePointer(
      reinterpret_cast<void* volatile*>(&g_type_info), nullptr, nullptr));
  if (cached == nullptr) {
    // Load the type library embedded in this very file, without touching
    // the registry.
    std::wstring path;
    try {
      path = ModulePath();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    ComPtr<ITypeInfo> loaded;
    {
      ComPtr<ITypeLib> library;
      HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
      if (FAILED(hr)) return hr;
      hr = library->GetTypeInfoOfGuid(IID__qvVCard, &loaded);
      if (FAILED(hr)) return hr;
    }
    // Another thread may have won the race; keep its copy and drop ours.
    cached = static_cast<ITypeInfo*>(InterlockedCompareExchangePointer(
        reinterpret_cast<void* volatile*>(&g_type_info), loaded.Get(), nullptr));
    if (cached == nullptr) cached = loaded.Detach();  // the cache holds our reference now
  }
  cached->AddRef();
  *out = cached;
  return S_OK;
}

void ReleaseTypeInfo() noexcept {
  // The cache's reference, dropped when its new owner goes.
  const ComPtr<ITypeInfo> cached = TakeOver(static_cast<ITypeInfo*>(
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_type_info), nullptr)));
}

IClassFactory* ClassFactory() noexcept { return &g_factory; }

}  // namespace qv_com

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      qv_com::SetModule(instance);
      DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      // On FreeLibrary (not at process exit) give the type information back;
      // COM only unloads the library after DllCanUnloadNow said S_OK.
      if (reserved == nullptr) qv_com::ReleaseTypeInfo();
      break;
    default:
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_qvVCard)) return CLASS_E_CLASSNOTAVAILABLE;
  return qv_com::ClassFactory()->QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() { return qv_com::InUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return qv_com::RegisterServer(qv_com::Scope::kMachine); }

STDAPI DllUnregisterServer() { return qv_com::UnregisterServer(qv_com::Scope::kMachine); }

// regsvr32 /i:user (with /n: only this) registers for the current user, and
// /u /i:user removes that registration; an empty command line, or
// "machine", does what DllRegisterServer and DllUnregisterServer do.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  qv_com::Scope scope = qv_com::Scope::kMachine;
  if (command_line != nullptr && lstrcmpiW(command_line, L"user") == 0) {
    scope = qv_com::Scope::kUser;
  } else if (command_line != nullptr && *command_line != L'\0' &&
             lstrcmpiW(command_line, L"machine") != 0) {
    return E_INVALIDARG;
  }
  return install ? qv_com::RegisterServer(scope) : qv_com::UnregisterServer(scope);
}

}  // extern "C"
