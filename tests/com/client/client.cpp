// A native client of qv_VCard.dll, run under Wine by the COM tests.
//
//   qv_vcard_com_client.exe DLL-PATH registered    every check below
//   qv_vcard_com_client.exe DLL-PATH unregistered  the class cannot be created
//
// Expected values come from the portable core linked into this client (its
// property table and its cards), never from the server under test. Prints
// one line per failure and a final "CLIENT RESULT passed=N failed=M".
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <qv_vcard/qvVCard.hpp>

#include "qv_VCard.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what, const std::wstring& detail = L"") {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAIL %s %ls\n", what, detail.c_str());
  }
}

using qv_VCard::Text;

std::wstring W(const Text& t) { return std::wstring(t.begin(), t.end()); }
std::wstring W(const char* s) { return std::wstring(s, s + std::strlen(s)); }

GUID Guid(const wchar_t* text) {
  GUID g{};
  CLSIDFromString(text, &g);
  return g;
}
const GUID kLibId = Guid(L"{AE972F38-F3C2-43D2-B48D-F37ABAC12DCF}");
const GUID kIid = Guid(L"{92784E96-63B0-461A-8EE4-DB844DDE3F1E}");
const GUID kClsId = Guid(L"{AE0DD753-1145-4963-8093-F1489A4EBC87}");
const GUID kStdOle = Guid(L"{00020430-0000-0000-C000-000000000046}");
constexpr bool k64 = sizeof(void*) == 8;

// A card with the values of its REV and UID lines, which differ on every
// read, cut out (the lines themselves stay).
std::wstring Stable(std::wstring card) {
  for (const wchar_t* tag : {L"\r\nREV:", L"\r\nUID:"}) {
    const auto at = card.find(tag);
    if (at == std::wstring::npos) continue;
    const auto value = at + 6;
    card.erase(value, card.find(L"\r\n", value) - value);
  }
  return card;
}

std::wstring Take(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}

std::wstring RegString(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return buffer;
}

std::wstring GuidString(REFGUID g) {
  wchar_t b[40];
  StringFromGUID2(g, b, 40);
  return b;
}

VARTYPE AutomationType(qv_VCard::Kind kind) {
  return kind == qv_VCard::Kind::Text ? VT_BSTR : kind == qv_VCard::Kind::Flag ? VT_BOOL : VT_I2;
}

// The value every property receives in the vtable and dispatch checks.
qv_VCard::Value Sample(const qv_VCard::PropertyInfo& p, int i) {
  if (p.kind == qv_VCard::Kind::Text) {
    const std::string s = std::string(p.name) + ";" + std::to_string(i);
    return Text(s.begin(), s.end());
  }
  return static_cast<std::int16_t>(p.kind == qv_VCard::Kind::Flag ? 1 : i % 50);
}

void CheckResources(const std::wstring& dll) {
  HMODULE m = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Check(m != nullptr, "load as data file");
  if (!m) return;
  HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), L"_IID_QVVCARD");
  const unsigned char expected[20] = {0x10, 0,    0,    0,    0x96, 0x4E, 0x78, 0x92, 0xB0, 0x63,
                                      0x1A, 0x46, 0x8E, 0xE4, 0xDB, 0x84, 0x4D, 0xDE, 0x3F, 0x1E};
  Check(r && SizeofResource(m, r) == 20 &&
            std::memcmp(LockResource(LoadResource(m, r)), expected, 20) == 0,
        "_IID_QVVCARD entry 1 holds length 16 and the interface identifier");
  r = FindResourceW(m, MAKEINTRESOURCEW(1), L"TYPELIB");
  Check(r && std::memcmp(LockResource(LoadResource(m, r)), "MSFT", 4) == 0, "TYPELIB entry 1");
  Check(FindResourceExW(m, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                        MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)) != nullptr,
        "version resource in German");
  FreeLibrary(m);

  std::vector<char> info(GetFileVersionInfoSizeW(dll.c_str(), nullptr));
  Check(!info.empty() && GetFileVersionInfoW(dll.c_str(), 0, info.size(), info.data()),
        "version information");
  if (info.empty()) return;
  WORD* translation = nullptr;
  UINT n = 0;
  Check(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &n) &&
            n == 4 && translation[0] == 0x0407 && translation[1] == 1200,
        "translation 0407 04B0");
  const wchar_t* fields[][2] = {{L"FileVersion", L"1.00"},
                                {L"ProductVersion", L"1.00"},
                                {L"ProductName", L"qv_VCard"},
                                {L"InternalName", L"qv_VCard"},
                                {L"OriginalFilename", L"qv_VCard.dll"},
                                {L"OLESelfRegister", L""}};
  for (auto& f : fields) {
    wchar_t* value = nullptr;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040704B0\\") + f[0];
    const bool found =
        VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &n);
    Check(found && value && std::wstring(value) == f[1], "version string", f[0]);
  }
  for (const wchar_t* maker : {L"CompanyName", L"LegalCopyright"}) {
    wchar_t* value = nullptr;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040704B0\\") + maker;
    Check(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &n) && n > 1,
          "maker field", maker);
  }
}

void CheckTypeLibrary(ITypeLib* lib) {
  TLIBATTR* la = nullptr;
  lib->GetLibAttr(&la);
  Check(IsEqualGUID(la->guid, kLibId) && la->wMajorVerNum == 7 && la->wMinorVerNum == 0 &&
            la->lcid == 0 && la->syskind == (k64 ? SYS_WIN64 : SYS_WIN32),
        "library identifier, version 7.0, LCID 0, system kind");
  lib->ReleaseTLibAttr(la);
  BSTR name = nullptr;
  lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  Check(Take(name) == L"qv_VCard" && lib->GetTypeInfoCount() == 2, "library name, two types");

  ITypeInfo* coclass = nullptr;
  Check(SUCCEEDED(lib->GetTypeInfoOfGuid(kClsId, &coclass)), "coclass by CLSID");
  if (coclass) {
    TYPEATTR* a = nullptr;
    coclass->GetTypeAttr(&a);
    int flags = 0;
    HREFTYPE ref = 0;
    ITypeInfo* def = nullptr;
    coclass->GetImplTypeFlags(0, &flags);
    coclass->GetRefTypeOfImplType(0, &ref);
    coclass->GetRefTypeInfo(ref, &def);
    TYPEATTR* da = nullptr;
    if (def) def->GetTypeAttr(&da);
    Check(a->typekind == TKIND_COCLASS && a->wMajorVerNum == 1 && a->wMinorVerNum == 9 &&
              (a->wTypeFlags & TYPEFLAG_FCANCREATE) && a->cImplTypes == 1 &&
              (flags & IMPLTYPEFLAG_FDEFAULT) && da && IsEqualGUID(da->guid, kIid),
          "coclass qvVCard 1.9, creatable, default _qvVCard");
    if (da) def->ReleaseTypeAttr(da);
    if (def) def->Release();
    coclass->ReleaseTypeAttr(a);
    coclass->Release();
  }

  ITypeInfo* dispatch = nullptr;
  ITypeInfo* vtable = nullptr;
  HREFTYPE ref = 0;
  Check(SUCCEEDED(lib->GetTypeInfoOfGuid(kIid, &dispatch)), "interface by IID");
  if (!dispatch) return;
  dispatch->GetRefTypeOfImplType(-1, &ref);
  dispatch->GetRefTypeInfo(ref, &vtable);
  // The library records hidden, dual, nonextensible, oleautomation and
  // dispatchable; the dispatch half of a dual interface reports all but
  // oleautomation, the interface half all five.
  const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                      TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
  TYPEATTR* a = nullptr;
  TYPEATTR* va = nullptr;
  dispatch->GetTypeAttr(&a);
  if (vtable) vtable->GetTypeAttr(&va);
  Check(a->typekind == TKIND_DISPATCH && (a->wTypeFlags | TYPEFLAG_FOLEAUTOMATION) == wanted &&
            va && va->typekind == TKIND_INTERFACE && va->wTypeFlags == wanted &&
            a->wMajorVerNum == 1 && a->wMinorVerNum == 9,
        "interface hidden, dual, nonextensible, oleautomation, 1.9");
  if (va) vtable->ReleaseTypeAttr(va);
  dispatch->ReleaseTypeAttr(a);
  dispatch->Release();
  if (!vtable) return;

  // Base IDispatch comes from stdole2.tlb.
  ITypeInfo* base = nullptr;
  ITypeLib* base_lib = nullptr;
  UINT index = 0;
  vtable->GetRefTypeOfImplType(0, &ref);
  vtable->GetRefTypeInfo(ref, &base);
  if (base) base->GetContainingTypeLib(&base_lib, &index);
  if (base_lib) base_lib->GetLibAttr(&la);
  Check(base_lib && IsEqualGUID(la->guid, kStdOle), "IDispatch imported from stdole2");
  if (base_lib) {
    base_lib->ReleaseTLibAttr(la);
    base_lib->Release();
  }
  if (base) base->Release();

  // The members in virtual table order, derived from the core's table.
  struct Expected {
    std::wstring name;
    INVOKEKIND kind;
    DISPID id;
    VARTYPE type;
  };
  std::vector<Expected> members = {
      {L"vCardClean", INVOKE_FUNC, qv_VCard::kDispIdVCardClean, VT_EMPTY},
      {L"vCard", INVOKE_PROPERTYGET, qv_VCard::kDispIdVCard, VT_BSTR},
      {L"vCardFileName", INVOKE_PROPERTYGET, qv_VCard::kDispIdVCardFileName, VT_BSTR}};
  for (const auto& p : qv_VCard::Properties()) {
    members.push_back({W(p.name), INVOKE_PROPERTYPUT, p.dispid, AutomationType(p.kind)});
    members.push_back({W(p.name), INVOKE_PROPERTYGET, p.dispid, AutomationType(p.kind)});
  }
  vtable->GetTypeAttr(&a);
  Check(a->cFuncs == members.size(), "member count");
  vtable->ReleaseTypeAttr(a);
  for (UINT i = 0; i < members.size(); ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(vtable->GetFuncDesc(i, &f))) {
      Check(false, "function description", members[i].name);
      continue;
    }
    BSTR names[2] = {};
    UINT count = 0;
    vtable->GetNames(f->memid, names, 2, &count);
    const Expected& e = members[i];
    bool ok = f->memid == e.id && f->invkind == e.kind &&
              f->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)) &&
              f->elemdescFunc.tdesc.vt == VT_HRESULT && Take(names[0]) == e.name;
    if (e.kind == INVOKE_PROPERTYPUT) {
      ok = ok && f->cParams == 1 && f->lprgelemdescParam[0].tdesc.vt == e.type;
    } else if (e.kind == INVOKE_PROPERTYGET) {
      const ELEMDESC& out = f->lprgelemdescParam[0];
      ok = ok && f->cParams == 1 && out.tdesc.vt == VT_PTR && out.tdesc.lptdesc->vt == e.type &&
           (out.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) ==
               (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    } else {
      ok = ok && f->cParams == 0;
    }
    SysFreeString(names[1]);
    Check(ok, "member in virtual table order", e.name);
    vtable->ReleaseFuncDesc(f);
  }
  vtable->Release();
}

void CheckRegistry(const std::wstring& dll) {
  const std::wstring clsid = L"CLSID\\" + GuidString(kClsId);
  Check(lstrcmpiW(RegString(clsid + L"\\InprocServer32", nullptr).c_str(), dll.c_str()) == 0 &&
            RegString(clsid + L"\\InprocServer32", L"ThreadingModel") == L"Apartment",
        "InprocServer32 and ThreadingModel", RegString(clsid + L"\\InprocServer32", nullptr));
  CLSID from_progid{};
  Check(SUCCEEDED(CLSIDFromProgID(L"qv_VCard.qvVCard", &from_progid)) &&
            IsEqualGUID(from_progid, kClsId) &&
            RegString(clsid + L"\\ProgID", nullptr) == L"qv_VCard.qvVCard",
        "ProgID qv_VCard.qvVCard");
  const std::wstring tl =
      L"TypeLib\\" + GuidString(kLibId) + L"\\7.0\\0\\" + (k64 ? L"win64" : L"win32");
  Check(lstrcmpiW(RegString(tl, nullptr).c_str(), dll.c_str()) == 0, "type library path", tl);
  const std::wstring itf = L"Interface\\" + GuidString(kIid);
  Check(RegString(itf + L"\\ProxyStubClsid32", nullptr) ==
                L"{00020424-0000-0000-C000-000000000046}" &&
            RegString(itf + L"\\TypeLib", nullptr) == GuidString(kLibId),
        "interface marshalled through the type library");
  ITypeLib* lib = nullptr;
  Check(SUCCEEDED(LoadRegTypeLib(kLibId, 7, 0, 0, &lib)), "LoadRegTypeLib 7.0");
  if (lib) lib->Release();
}

using PutText = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR);
using PutShort = HRESULT(STDMETHODCALLTYPE*)(void*, short);
using GetText = HRESULT(STDMETHODCALLTYPE*)(void*, BSTR*);
using GetShort = HRESULT(STDMETHODCALLTYPE*)(void*, short*);
using Call = HRESULT(STDMETHODCALLTYPE*)(void*);

template <class F>
F Slot(void* object, int slot) {
  return reinterpret_cast<F>((*static_cast<void***>(object))[slot]);
}

std::wstring Read(void* o, int slot) {
  BSTR b = nullptr;
  const HRESULT hr = Slot<GetText>(o, slot)(o, &b);
  return SUCCEEDED(hr) ? Take(b) : L"<failed>";
}

// Every property through its raw virtual table slots: slot 10 + 2i assigns
// property i of the interface order, slot 11 + 2i reads it.
void CheckVtable(_qvVCard* card) {
  qv_VCard::qvVCard core;
  const auto props = qv_VCard::Properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    const auto& p = props[i];
    const int put = 10 + 2 * static_cast<int>(i);
    const qv_VCard::Value v = Sample(p, static_cast<int>(i));
    core.PutById(p.dispid, v);
    if (p.kind == qv_VCard::Kind::Text) {
      BSTR b = SysAllocString(W(std::get<Text>(v)).c_str());
      Slot<PutText>(card, put)(card, b);
      SysFreeString(b);
    } else {
      Slot<PutShort>(card, put)(card, std::get<std::int16_t>(v));
    }
  }
  for (std::size_t i = 0; i < props.size(); ++i) {
    const auto& p = props[i];
    const int get = 11 + 2 * static_cast<int>(i);
    qv_VCard::Value want;
    core.GetById(p.dispid, want);
    if (p.kind == qv_VCard::Kind::Text) {
      Check(Read(card, get) == W(std::get<Text>(want)), "vtable read", W(p.name));
    } else {
      short got = 0;
      Slot<GetShort>(card, get)(card, &got);
      Check(got == std::get<std::int16_t>(want), "vtable read", W(p.name));
    }
  }
  Text card_text, file;
  core.get_vCard(card_text);
  core.get_vCardFileName(file);
  Check(Stable(Read(card, 8)) == Stable(W(card_text)), "slot 8 is vCard, same card as the core");
  Check(Read(card, 9) == W(file), "slot 9 is vCardFileName");
  Check(Slot<Call>(card, 7)(card) == S_OK && Read(card, 11) == L";", "slot 7 is vCardClean");
  Check(card->get_vCard(nullptr) == E_POINTER, "null out-parameter refused");
}

HRESULT Invoke(IDispatch* d, DISPID id, WORD flags, VARIANT* arg, VARIANT* result,
               EXCEPINFO* ex = nullptr) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {arg, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, arg ? 1u : 0u,
                       flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO local{};
  return d->Invoke(id, IID_NULL, 0, flags, &params, result, ex ? ex : &local, nullptr);
}

void CheckDispatch(_qvVCard* card) {
  IDispatch* d = card;
  for (const wchar_t* spelling : {L"NameFamily", L"namefamily", L"NAMEFAMILY"}) {
    LPOLESTR name = const_cast<LPOLESTR>(spelling);
    DISPID id = 0;
    Check(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id) == S_OK && id == 0x6803020D,
          "GetIDsOfNames ignores case", spelling);
  }
  for (const auto& p : qv_VCard::Properties()) {
    std::wstring n = W(p.name);
    LPOLESTR name = n.data();
    DISPID id = 0;
    Check(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id) == S_OK && id == p.dispid, "dispid", n);
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMember");
  DISPID id = 0;
  Check(d->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id) == DISP_E_UNKNOWNNAME, "unknown name");

  VARIANT v, r;
  VariantInit(&r);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(L"Smith");
  Check(Invoke(d, 0x6803020D, DISPATCH_PROPERTYPUT, &v, nullptr) == S_OK &&
            Invoke(d, 0x6803020D, DISPATCH_PROPERTYGET, nullptr, &r) == S_OK &&
            V_VT(&r) == VT_BSTR && std::wstring(V_BSTR(&r)) == L"Smith;",
        "assign and read NameFamily by identifier");
  VariantClear(&r);
  Check(Invoke(d, qv_VCard::kDispIdVCard, DISPATCH_PROPERTYPUT, &v, nullptr) ==
                DISP_E_MEMBERNOTFOUND &&
            Invoke(d, qv_VCard::kDispIdVCardFileName, DISPATCH_PROPERTYPUT, &v, nullptr) ==
                DISP_E_MEMBERNOTFOUND,
        "assigning vCard or vCardFileName refused");
  VariantClear(&v);

  BSTR early = nullptr;
  card->get_vCard(&early);
  Check(Invoke(d, qv_VCard::kDispIdVCard, DISPATCH_PROPERTYGET, nullptr, &r) == S_OK &&
            Stable(V_BSTR(&r)) == Stable(Take(early)),
        "vCard by Invoke equals vCard by the virtual table");
  VariantClear(&r);

  // The overflow error: a status through the virtual table, an exception
  // carrying it through Invoke.
  card->put_GeoLatDeg(32767);
  card->put_GeoLatMin(1);
  BSTR none = nullptr;
  Check(card->get_vCard(&none) == qv_VCard::kOverflow && none == nullptr, "overflow status");
  IErrorInfo* error = nullptr;
  BSTR source = nullptr;
  if (GetErrorInfo(0, &error) == S_OK) {
    error->GetSource(&source);
    error->Release();
  }
  Check(Take(source) == L"qv_VCard.qvVCard", "error object names its source");
  EXCEPINFO ex{};
  Check(Invoke(d, qv_VCard::kDispIdVCard, DISPATCH_PROPERTYGET, nullptr, &r, &ex) ==
                DISP_E_EXCEPTION &&
            ex.scode == qv_VCard::kOverflow,
        "overflow raised through Invoke");
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  Check(Invoke(d, qv_VCard::kDispIdVCardClean, DISPATCH_METHOD, nullptr, nullptr) == S_OK &&
            card->get_vCard(&early) == S_OK,
        "vCardClean by Invoke clears the overflow");
  SysFreeString(early);
}

template <class F>
F Proc(HMODULE m, const char* name) {
  // Through void (*)(), the generic function pointer type.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(m, name)));
}

void CheckLifetime(const std::wstring& dll) {
  HMODULE m = LoadLibraryW(dll.c_str());
  auto can_unload = Proc<HRESULT(STDAPICALLTYPE*)()>(m, "DllCanUnloadNow");
  auto get_class = Proc<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(m, "DllGetClassObject");
  Check(can_unload && get_class && GetProcAddress(m, "DllRegisterServer") &&
            GetProcAddress(m, "DllUnregisterServer"),
        "entry points exported by name");
  if (!can_unload || !get_class) return;
  IClassFactory* factory = nullptr;
  void* none = nullptr;
  Check(get_class(kIid, IID_IClassFactory, &none) == CLASS_E_CLASSNOTAVAILABLE,
        "other CLSID refused");
  get_class(kClsId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  Check(factory != nullptr && can_unload() == S_OK, "unloadable without objects");
  if (!factory) return;
  IUnknown* outer = factory;
  Check(factory->CreateInstance(outer, IID_IUnknown, &none) == CLASS_E_NOAGGREGATION,
        "no aggregation");
  _qvVCard* a = nullptr;
  _qvVCard* b = nullptr;
  factory->CreateInstance(nullptr, kIid, reinterpret_cast<void**>(&a));
  factory->CreateInstance(nullptr, kIid, reinterpret_cast<void**>(&b));
  Check(a && b && can_unload() == S_FALSE, "DllCanUnloadNow false while objects live");
  if (a && b) {
    BSTR x = SysAllocString(L"A");
    a->put_NameFamily(x);
    SysFreeString(x);
    Check(Read(b, 11) == L";" && Read(a, 11) == L"A;", "objects are independent");
  }
  if (a) a->Release();
  Check(can_unload() == S_FALSE, "one object still lives");
  if (b) b->Release();
  Check(can_unload() == S_OK, "DllCanUnloadNow true after the last release");
  factory->LockServer(TRUE);
  Check(can_unload() == S_FALSE, "a lock keeps the library");
  factory->LockServer(FALSE);
  Check(can_unload() == S_OK, "unlocked");
  FreeLibrary(m);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::printf("usage: qv_vcard_com_client DLL-PATH registered|unregistered\n");
    return 2;
  }
  const std::wstring dll = argv[1];
  const bool registered = std::wstring(argv[2]) == L"registered";
  CoInitialize(nullptr);
  _qvVCard* card = nullptr;
  const HRESULT hr = CoCreateInstance(kClsId, nullptr, CLSCTX_INPROC_SERVER, kIid,
                                      reinterpret_cast<void**>(&card));
  if (!registered) {
    Check(hr == REGDB_E_CLASSNOTREG, "class not registered after unregistering");
  } else {
    Check(SUCCEEDED(hr) && card, "CoCreateInstance");
    CheckResources(dll);
    ITypeLib* lib = nullptr;
    Check(SUCCEEDED(LoadTypeLibEx(dll.c_str(), REGKIND_NONE, &lib)), "embedded type library");
    if (lib) {
      CheckTypeLibrary(lib);
      lib->Release();
    }
    CheckRegistry(dll);
    if (card) {
      CheckVtable(card);
      CheckDispatch(card);
      card->Release();
    }
    CheckLifetime(dll);
  }
  CoUninitialize();
  std::printf("CLIENT RESULT passed=%d failed=%d\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
