/*
 * qv_vcard.h - C interface of qv_VCard.
 *
 * A qv_vcard object holds one person's contact data and renders it as a
 * vCard 3.0 card and a file name for that card. Callers that bind late
 * (scripting languages, foreign-function interfaces) resolve a member by
 * name to its dispatch identifier and then assign and read through that
 * identifier.
 *
 * Status codes
 *   Every function returns a qv_status: QV_S_OK (0) on success, a negative
 *   automation-style result code on failure (see the QV_E_* constants).
 *   A function that fails stores nothing in the object and hands out
 *   nothing: every text out-parameter is set to NULL and every length
 *   out-parameter to 0 before any other work is done.
 *
 * Pointers
 *   Every pointer argument is required; a NULL one makes the function
 *   return QV_E_POINTER without doing anything. The exceptions are named in
 *   the descriptions below: the optional length out-parameter `out_len` of
 *   the text reads, and the object and text given to qv_vcard_destroy,
 *   qv_vcard_free_utf8 and qv_vcard_free_utf16, which accept NULL as free()
 *   does.
 *
 * Ownership
 *   - qv_vcard_create hands out an object that the caller owns and releases
 *     with qv_vcard_destroy.
 *   - A text read (qv_vcard_get_utf8, qv_vcard_card_utf8, ...) hands out a
 *     new buffer allocated by the library. The caller owns it and releases
 *     it with the matching qv_vcard_free_utf8 or qv_vcard_free_utf16, never
 *     with free(): like an automation string, it belongs to the library's
 *     allocator. The buffer holds `*out_len` code units followed by a
 *     terminating 0 unit that `*out_len` does not count; the text itself may
 *     contain 0 units, so a caller that may meet those uses `out_len`.
 *   - Texts passed in are only read during the call; the object keeps its
 *     own copy.
 *   - Member names handed out by qv_vcard_member are static and never freed.
 *
 * What the library cannot check
 *   A pointer to something other than what the function expects, a length
 *   larger than the text it describes, using an object after
 *   qv_vcard_destroy, destroying it twice, and freeing a text twice (or
 *   with the wrong function) are undefined behaviour, as they are with
 *   malloc and free. A length that no text can have (more than the library
 *   could ever allocate, such as SIZE_MAX - 1) is refused with
 *   QV_E_OUTOFMEMORY before the text is read.
 *
 * Texts
 *   The object stores texts as UTF-16. The *_utf16 functions pass them
 *   unchanged (including unpaired surrogates, which assignments accept as any
 *   other code unit). The *_utf8 functions convert: a text passed in must be
 *   well-formed UTF-8 (no overlong forms, no encoded surrogates, nothing
 *   beyond U+10FFFF) or the call fails with QV_E_NOUNICODETRANSLATION and
 *   stores nothing; a text read whose UTF-16 holds an unpaired surrogate
 *   cannot be expressed in UTF-8 and fails with the same status (read it
 *   with the *_utf16 variant instead). A length of QV_NTS means the text
 *   ends at its first 0 unit.
 *
 * Values
 *   Flags are 16-bit automation Booleans (QV_TRUE is -1, QV_FALSE is 0) and
 *   are stored exactly as given: a flag set to 1 reads back 1 and counts as
 *   set. The geographic degrees, minutes and seconds are signed 16-bit
 *   integers, stored without a range check.
 *
 * Threads
 *   Objects are independent of each other. One object must be used by one
 *   thread at a time, reads included.
 *
 * No C++ exception ever leaves a function of this interface.
 */
#ifndef QV_VCARD_QV_VCARD_H
#define QV_VCARD_QV_VCARD_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QV_VCARD_C_BUILD)
#define QV_VCARD_API __declspec(dllexport)
#else
#define QV_VCARD_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QV_VCARD_API __attribute__((visibility("default")))
#else
#define QV_VCARD_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An object: opaque, created by qv_vcard_create. */
typedef struct qv_vcard qv_vcard;

/* A status code: 0 success, negative failure (HRESULT layout). */
typedef int32_t qv_status;

/* A dispatch identifier of a member. */
typedef int32_t qv_dispid;

/* A UTF-16 code unit, in the machine's byte order. */
typedef uint16_t qv_utf16;

#define QV_SUCCEEDED(status) ((qv_status)(status) >= 0)
#define QV_FAILED(status) ((qv_status)(status) < 0)

/* Status codes. The values are those of the automation results of the same
 * meaning; as unsigned 32-bit numbers they read 0x800A0006 and so on. */
#define QV_S_OK ((qv_status)0)
/* A 16-bit overflow while composing the geographic position of the card. */
#define QV_E_OVERFLOW ((qv_status)0x800A0006)
#define QV_E_OUTOFMEMORY ((qv_status)0x8007000E)
/* An unspecified failure (of the clock, for example). */
#define QV_E_FAIL ((qv_status)0x80004005)
/* An internal fault: an exception of no known kind, a card written past its
 * room. The same value on every surface of the library. */
#define QV_E_UNEXPECTED ((qv_status)0x8000FFFF)
/* A required pointer argument was NULL. */
#define QV_E_POINTER ((qv_status)0x80004003)
#define QV_E_INVALIDARG ((qv_status)0x80070057)
/* No member has this identifier, or the member cannot be used this way
 * (an assignment to vCard or vCardFileName, a read of vCardClean). */
#define QV_E_MEMBERNOTFOUND ((qv_status)0x80020003)
/* A text given to or asked of a flag or integer member, or the reverse. */
#define QV_E_TYPEMISMATCH ((qv_status)0x80020005)
/* No member has this name. */
#define QV_E_UNKNOWNNAME ((qv_status)0x80020006)
/* A text that is not well-formed UTF-8, or a text read that cannot be
 * expressed in UTF-8. */
#define QV_E_NOUNICODETRANSLATION ((qv_status)0x80070459)

/* Automation Booleans. */
#define QV_TRUE ((int16_t)-1)
#define QV_FALSE ((int16_t)0)

/* Dispatch identifiers of the members that are not assignable properties.
 * The 129 properties have identifiers from 0x6803020D (NameFamily) down to
 * 0x6803018D (TimeZone); resolve them by name with qv_vcard_dispid. */
#define QV_DISPID_VCARDCLEAN ((qv_dispid)0x6003021F)
#define QV_DISPID_VCARD ((qv_dispid)0x6803021E)
#define QV_DISPID_VCARDFILENAME ((qv_dispid)0x6803020E)

/* A text length meaning "up to the first 0 unit". */
#define QV_NTS ((size_t)-1)

/* What a member is. */
typedef enum qv_member_kind {
  QV_MEMBER_TEXT = 1,          /* text property, assignable and readable */
  QV_MEMBER_FLAG = 2,          /* 16-bit automation Boolean property */
  QV_MEMBER_INT16 = 3,         /* signed 16-bit integer property */
  QV_MEMBER_READONLY_TEXT = 4, /* vCard, vCardFileName: read only */
  QV_MEMBER_METHOD = 5         /* vCardClean */
} qv_member_kind;

/* --- Objects ------------------------------------------------------------ */

/* Creates an object with every text empty and every flag and integer 0.
 * On success *out receives the object, owned by the caller; on failure
 * *out is NULL. */
QV_VCARD_API qv_status qv_vcard_create(qv_vcard** out);

/* Destroys an object. NULL is accepted and ignored. Always QV_S_OK. */
QV_VCARD_API qv_status qv_vcard_destroy(qv_vcard* card);

/* Resets every field except TimeZone (the member vCardClean). */
QV_VCARD_API qv_status qv_vcard_clean(qv_vcard* card);

/* --- Names and identifiers ----------------------------------------------- */

/* The dispatch identifier of the member called `name` (UTF-8, 0-terminated),
 * compared ignoring ASCII case: "namefamily" finds NameFamily. All 132
 * members resolve, vCard, vCardFileName and vCardClean included.
 * QV_E_UNKNOWNNAME when no member has the name (*out is then 0); member
 * names are ASCII, so any other byte, well-formed UTF-8 or not, makes the
 * name unknown. */
QV_VCARD_API qv_status qv_vcard_dispid(const char* name, qv_dispid* out);

/* The same for a UTF-16 name of `len` units (or QV_NTS). */
QV_VCARD_API qv_status qv_vcard_dispid_utf16(const qv_utf16* name, size_t len, qv_dispid* out);

/* The exact name and the kind of the member with identifier `id`.
 * *name receives a static string. QV_E_MEMBERNOTFOUND for an unknown
 * identifier (*name is then NULL and *kind 0). */
QV_VCARD_API qv_status qv_vcard_member(qv_dispid id, const char** name, qv_member_kind* kind);

/* --- Texts ---------------------------------------------------------------- */

/* Assigns a text property. `text` holds `len` bytes of UTF-8 (or QV_NTS).
 * QV_E_MEMBERNOTFOUND for vCard, vCardFileName, vCardClean and unknown
 * identifiers; QV_E_TYPEMISMATCH for a flag or integer property;
 * QV_E_NOUNICODETRANSLATION for ill-formed UTF-8. */
QV_VCARD_API qv_status qv_vcard_put_utf8(qv_vcard* card, qv_dispid id, const char* text,
                                         size_t len);

/* Assigns a text property from `len` UTF-16 units (or QV_NTS), unchanged. */
QV_VCARD_API qv_status qv_vcard_put_utf16(qv_vcard* card, qv_dispid id, const qv_utf16* text,
                                          size_t len);

/* Reads a text property, vCard or vCardFileName as UTF-8. On success *out
 * receives a new 0-terminated buffer that the caller releases with
 * qv_vcard_free_utf8, and *out_len (when out_len is not NULL) its length in
 * bytes. QV_E_MEMBERNOTFOUND for vCardClean and unknown identifiers;
 * QV_E_TYPEMISMATCH for a flag or integer property; the failure of the read
 * itself otherwise (QV_E_OVERFLOW for a card whose geographic position
 * overflows). */
QV_VCARD_API qv_status qv_vcard_get_utf8(const qv_vcard* card, qv_dispid id, char** out,
                                         size_t* out_len);

/* The same as UTF-16; *out_len counts code units. Release the buffer with
 * qv_vcard_free_utf16. */
QV_VCARD_API qv_status qv_vcard_get_utf16(const qv_vcard* card, qv_dispid id, qv_utf16** out,
                                          size_t* out_len);

/* The card text (the member vCard): lines separated by CR LF, the last one
 * "END:VCARD" without a line end. Each read carries a fresh revision stamp
 * and unique identifier. Same contract as qv_vcard_get_utf8/_utf16. */
QV_VCARD_API qv_status qv_vcard_card_utf8(const qv_vcard* card, char** out, size_t* out_len);
QV_VCARD_API qv_status qv_vcard_card_utf16(const qv_vcard* card, qv_utf16** out, size_t* out_len);

/* A file name for the card (the member vCardFileName), ending in ".vcf". */
QV_VCARD_API qv_status qv_vcard_file_name_utf8(const qv_vcard* card, char** out, size_t* out_len);
QV_VCARD_API qv_status qv_vcard_file_name_utf16(const qv_vcard* card, qv_utf16** out,
                                                size_t* out_len);

/* The words for a status, the same on every surface of the library:
 * "16-bit overflow" for QV_E_OVERFLOW, "out of memory", "member not found",
 * ...; "failure" for a status the library does not give. A static string,
 * never freed. */
QV_VCARD_API const char* qv_vcard_status_text(qv_status status);

/* Release a text handed out by this library. NULL is accepted and ignored.
 * Always QV_S_OK. */
QV_VCARD_API qv_status qv_vcard_free_utf8(char* text);
QV_VCARD_API qv_status qv_vcard_free_utf16(qv_utf16* text);

/* --- Flags and integers ---------------------------------------------------- */

/* Assigns a flag or integer property, stored unchanged.
 * QV_E_MEMBERNOTFOUND for vCard, vCardFileName, vCardClean and unknown
 * identifiers; QV_E_TYPEMISMATCH for a text property. */
QV_VCARD_API qv_status qv_vcard_put_int16(qv_vcard* card, qv_dispid id, int16_t value);

/* Reads a flag or integer property. On failure *out is 0.
 * QV_E_MEMBERNOTFOUND for vCardClean and unknown identifiers;
 * QV_E_TYPEMISMATCH for text properties, vCard and vCardFileName. */
QV_VCARD_API qv_status qv_vcard_get_int16(const qv_vcard* card, qv_dispid id, int16_t* out);

#ifdef __cplusplus
}
#endif

#endif /* QV_VCARD_QV_VCARD_H */
