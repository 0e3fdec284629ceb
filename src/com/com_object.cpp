// The qvVCard automation object: the dual interface _qvVCard, carried out by
// the portable card object. This layer only converts between automation
// types and the core's types and passes status codes through; it holds no
// card logic.
//
// No exception may cross the interface: every member runs its body inside
// Guarded(), which gives an exception the status every surface gives it
// (E_OUTOFMEMORY for running out of memory, E_UNEXPECTED for anything
// else). A failing member also publishes an error object
// (SetErrorInfo); through IDispatch::Invoke the failure becomes an exception
// carrying that status, so a script sees the member's own code (0x800A0006
// is VBScript's Overflow, error 6).
#include <wrl/client.h>

#include <new>
#include <string>
#include <utility>

#include <qv_vcard/qvVCard.hpp>

#include "bridge/status.hpp"

#include "com_module.hpp"

namespace qv_com {
namespace {

using Microsoft::WRL::ComPtr;
using qv_VCard::Property;
using qv_VCard::Text;

// A text handed in by a caller; a null BSTR is the empty text.
Text ToText(BSTR value) {
  if (value == nullptr) return Text();
  return Text(reinterpret_cast<const char16_t*>(value), SysStringLen(value));
}

// A new BSTR holding text, or E_OUTOFMEMORY.
HRESULT ToBstr(const Text& text, BSTR* out) noexcept {
  *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                           static_cast<UINT>(text.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The status's words, as every surface says them ("16-bit overflow").
std::wstring Describe(HRESULT status) {
  const char* const text = qv_VCard::bridge::StatusText(static_cast<qv_VCard::Status>(status));
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

// Publishes an error object for status on this thread, so that callers that
// ask (ISupportErrorInfo, GetErrorInfo) and Invoke see where it came from.
void PublishError(HRESULT status) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(IID__qvVCard);
  create->SetSource(const_cast<LPOLESTR>(kProgId));
  std::wstring description;
  try {
    description = Describe(status);
  } catch (...) {
    // no words then, the status still goes out
  }
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

class CardObject final : public _qvVCard, public ISupportErrorInfo {
 public:
  explicit CardObject(ComPtr<ITypeInfo> type_info) noexcept : type_info_(std::move(type_info)) {
    ObjectCreated();
  }
  CardObject(const CardObject&) = delete;
  CardObject& operator=(const CardObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID__qvVCard)) {
      *out = static_cast<_qvVCard*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch, through the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return type_info_.CopyTo(out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(type_info_.Get(), names, count, ids);
  }
  // The platform's Invoke calls the member through the virtual table; a
  // member that fails comes back to the caller as DISP_E_EXCEPTION with the
  // member's status (and the error object's texts) in the EXCEPINFO.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispInvoke(static_cast<_qvVCard*>(this), type_info_.Get(), id, flags, params, result,
                      exception, bad_argument);
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, IID__qvVCard) ? S_OK : S_FALSE;
  }

  // _qvVCard: the method and the two computed results.
  HRESULT STDMETHODCALLTYPE vCardClean() override {
    return Guarded([&] { return card_.vCardClean(); });
  }
  HRESULT STDMETHODCALLTYPE get_vCard(BSTR* out) override {
    return Read(out, [&](Text& text) { return card_.get_vCard(text); });
  }
  HRESULT STDMETHODCALLTYPE get_vCardFileName(BSTR* out) override {
    return Read(out, [&](Text& text) { return card_.get_vCardFileName(text); });
  }

  // _qvVCard: an assignment and a read for every row of the property table.
  // The override specifiers make the compiler check each one against the
  // header widl generated from the same table.
#define QV_COM_IN_Text BSTR
#define QV_COM_IN_Flag VARIANT_BOOL
#define QV_COM_IN_Int16 short
#define QV_COM_OUT_Text BSTR*
#define QV_COM_OUT_Flag VARIANT_BOOL*
#define QV_COM_OUT_Int16 short*
#define QV_VCARD_PROPERTY(name, kind, dispid, rule)                       \
  HRESULT STDMETHODCALLTYPE put_##name(QV_COM_IN_##kind vData) override { \
    return Assign(Property::name, vData);                                 \
  }                                                                       \
  HRESULT STDMETHODCALLTYPE get_##name(QV_COM_OUT_##kind out) override {  \
    return ReadProperty(Property::name, out);                             \
  }
#include <qv_vcard/property_table.inc>
#undef QV_VCARD_PROPERTY
#undef QV_COM_IN_Text
#undef QV_COM_IN_Flag
#undef QV_COM_IN_Int16
#undef QV_COM_OUT_Text
#undef QV_COM_OUT_Flag
#undef QV_COM_OUT_Int16

 private:
  ~CardObject() { ObjectDestroyed(); }

  // Runs one member: holds a reference for the time it runs, keeps every
  // exception inside and publishes a failure status.
  template <class Body>
  HRESULT Guarded(Body&& body) noexcept {
    AddRef();
    HRESULT status;
    try {
      status = static_cast<HRESULT>(body());
    } catch (...) {
      status = static_cast<HRESULT>(qv_VCard::bridge::StatusOfCurrentException());
    }
    if (FAILED(status)) PublishError(status);
    Release();
    return status;
  }

  template <class Reader>
  HRESULT Read(BSTR* out, Reader&& reader) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded([&]() -> HRESULT {
      Text text;
      const qv_VCard::Status status = reader(text);
      if (qv_VCard::Failed(status)) return status;
      return ToBstr(text, out);
    });
  }

  HRESULT Assign(Property p, BSTR value) noexcept {
    return Guarded([&] { return card_.Put(p, ToText(value)); });
  }
  // Flags (VARIANT_BOOL) and the 16-bit integers alike.
  HRESULT Assign(Property p, short value) noexcept {
    return Guarded([&] { return card_.Put(p, static_cast<std::int16_t>(value)); });
  }
  HRESULT ReadProperty(Property p, BSTR* out) noexcept {
    return Read(out, [&](Text& text) { return card_.Get(p, text); });
  }
  HRESULT ReadProperty(Property p, short* out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = 0;
    return Guarded([&] {
      std::int16_t value = 0;
      const qv_VCard::Status status = card_.Get(p, value);
      if (qv_VCard::Succeeded(status)) *out = value;
      return status;
    });
  }

  LONG references_ = 1;
  const ComPtr<ITypeInfo> type_info_;
  qv_VCard::qvVCard card_;
};

}  // namespace

HRESULT CreateCardObject(REFIID riid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ComPtr<ITypeInfo> type_info;
  const HRESULT hr = InterfaceTypeInfo(&type_info);
  if (FAILED(hr)) return hr;
  CardObject* created = nullptr;
  try {
    created = new CardObject(std::move(type_info));
  } catch (...) {
    return static_cast<HRESULT>(qv_VCard::bridge::StatusOfCurrentException());
  }
  // The object is born with one reference, taken over here; the caller's,
  // if any, keeps it alive.
  const ComPtr<CardObject> object = TakeOver(created);
  return object->QueryInterface(riid, out);
}

}  // namespace qv_com
