/* Drives the C interface end to end: identifiers, every property through
 * its kind and read rule, text conversions, refusals, reset and the card
 * corpus. Prints each failed check and exits non-zero when any failed. */
#include <qv_vcard/qv_vcard.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct corpus_set {
  const char* name;
  const char* text; /* NULL for a 16-bit value */
  size_t len;
  int value;
};
struct corpus_text {
  const char* text;
  size_t len;
};
struct corpus_case {
  const char* name;
  const struct corpus_set* set;
  const struct corpus_text* card;
  int has_card;
  qv_status status;
  struct corpus_text file_name;
};
#include "corpus_cases.h"

static int checks;
static int failures;

#define CHECK(cond) check((cond), #cond, __FILE__, __LINE__, "")
#define CHECK_AT(cond, what) check((cond), #cond, __FILE__, __LINE__, (what))
#define CHECK_STATUS(expr, want) check_status((expr), (want), #expr, __LINE__, "")

static void check(int ok, const char* expr, const char* file, int line, const char* what) {
  ++checks;
  if (!ok) {
    ++failures;
    fprintf(stderr, "%s:%d: %s%sfailed: %s\n", file, line, what, *what ? ": " : "", expr);
  }
}

static void check_status(qv_status got, qv_status want, const char* expr, int line,
                         const char* what) {
  ++checks;
  if (got != want) {
    ++failures;
    fprintf(stderr, "%s:%d: %s%s%s gave 0x%08lX, want 0x%08lX\n", __FILE__, line, what,
            *what ? ": " : "", expr, (unsigned long)(uint32_t)got, (unsigned long)(uint32_t)want);
  }
}

static qv_vcard* new_card(void) {
  qv_vcard* card = NULL;
  if (qv_vcard_create(&card) != QV_S_OK || card == NULL) {
    fprintf(stderr, "qv_vcard_create failed\n");
    exit(2);
  }
  return card;
}

static qv_dispid id_of(const char* name) {
  qv_dispid id = 0;
  qv_vcard_dispid(name, &id);
  return id;
}

/* Reads a text member as UTF-8 and compares it with want (len bytes). */
static int reads_utf8(const qv_vcard* card, qv_dispid id, const char* want, size_t len) {
  char* text = NULL;
  size_t n = 12345;
  const qv_status s = qv_vcard_get_utf8(card, id, &text, &n);
  const int same =
      s == QV_S_OK && text != NULL && n == len && memcmp(text, want, len) == 0 && text[n] == '\0';
  qv_vcard_free_utf8(text);
  return same;
}

static int reads_utf16(const qv_vcard* card, qv_dispid id, const qv_utf16* want, size_t len) {
  qv_utf16* text = NULL;
  size_t n = 12345;
  const qv_status s = qv_vcard_get_utf16(card, id, &text, &n);
  const int same = s == QV_S_OK && text != NULL && n == len &&
                   memcmp(text, want, len * sizeof *want) == 0 && text[n] == 0;
  qv_vcard_free_utf16(text);
  return same;
}

/* ---- The member table, written out from the interface's own layout ---- */

enum {
  TEXT_STORED = 'S',
  TEXT_SEPARATOR = ';',
  TEXT_FORMATTED = 'F',
  TEXT_LINE = 'L',
  TEXT_LAT_SIGN = 'N',
  TEXT_LON_SIGN = 'W',
  FLAG = 'b',
  INT16 = 'i'
};

struct member {
  char name[24];
  int rule;
  const char* line; /* content-line prefix of TEXT_LINE */
};
static struct member members[160];
static int member_count;

static void add(const char* slot, const char* field, int rule, const char* line) {
  struct member* m = &members[member_count++];
  snprintf(m->name, sizeof m->name, "%s%s", slot, field);
  m->rule = rule;
  m->line = line;
}

static void build_member_table(void) {
  static const char* const adr_texts[] = {"PostOffice", "Extended", "Street",
                                          "Locality",   "Region",   "PostalCode"};
  static const char* const adr_flags[] = {"Dom", "Intl", "Postal", "Parcel", "Home", "Work"};
  static const char* const tel_flags[] = {"Pref",  "Work", "Home",  "Voice", "Fax",  "Msg",  "Cell",
                                          "Pager", "BBS",  "Modem", "Car",   "Isdn", "Video"};
  char slot[16];
  int s;
  size_t k;
  add("", "NameFamily", TEXT_SEPARATOR, NULL);
  add("", "NameGiven", TEXT_SEPARATOR, NULL);
  add("", "NameAdditional", TEXT_SEPARATOR, NULL);
  add("", "NamePrefix", TEXT_SEPARATOR, NULL);
  add("", "NameSuffix", TEXT_STORED, NULL);
  add("", "FormatedName", TEXT_FORMATTED, NULL);
  add("", "SortString", TEXT_LINE, "SORT-STRING:");
  add("", "Nickname", TEXT_LINE, "NICKNAME:");
  add("", "Birthdate", TEXT_STORED, NULL);
  add("", "OrgName", TEXT_STORED, NULL);
  add("", "OrgUnit", TEXT_STORED, NULL);
  add("", "Title", TEXT_LINE, "TITLE:");
  add("", "Role", TEXT_LINE, "ROLE:");
  for (s = 1; s <= 3; ++s) {
    snprintf(slot, sizeof slot, "Adr%d_", s);
    for (k = 0; k < 6; ++k) add(slot, adr_texts[k], TEXT_SEPARATOR, NULL);
    add(slot, "Country", TEXT_STORED, NULL);
    for (k = 0; k < 6; ++k) add(slot, adr_flags[k], FLAG, NULL);
  }
  for (s = 1; s <= 4; ++s) {
    snprintf(slot, sizeof slot, "Tel%d_", s);
    add(slot, "Number", TEXT_STORED, NULL);
    for (k = 0; k < 13; ++k) add(slot, tel_flags[k], FLAG, NULL);
  }
  for (s = 1; s <= 3; ++s) {
    snprintf(slot, sizeof slot, "Email%d_", s);
    add(slot, "Value", TEXT_STORED, NULL);
    add(slot, "Type", TEXT_STORED, NULL);
    add(slot, "Pref", FLAG, NULL);
  }
  add("", "GeoLat", TEXT_LAT_SIGN, NULL);
  add("", "GeoLatDeg", INT16, NULL);
  add("", "GeoLatMin", INT16, NULL);
  add("", "GeoLatSec", INT16, NULL);
  add("", "GeoLon", TEXT_LON_SIGN, NULL);
  add("", "GeoLonDeg", INT16, NULL);
  add("", "GeoLonMin", INT16, NULL);
  add("", "GeoLonSec", INT16, NULL);
  add("", "Note", TEXT_LINE, "NOTE:");
  add("", "Url", TEXT_LINE, "URL:");
  add("", "Categorie", TEXT_LINE, "CATEGORIES:");
  add("", "TimeZone", TEXT_LINE, "TZ:");
}

static char fold_case(char c, int upper) {
  if (upper && c >= 'a' && c <= 'z') return (char)(c - 'a' + 'A');
  if (!upper && c >= 'A' && c <= 'Z') return (char)(c - 'A' + 'a');
  return c;
}

static int is_text(int rule) { return rule != FLAG && rule != INT16; }

/* All 129 names resolve, in any case, to identifiers descending without a
 * gap from NameFamily; the identifiers name their members back. */
static void test_identifiers(void) {
  int i;
  CHECK(member_count == 129);
  for (i = 0; i < member_count; ++i) {
    const struct member* m = &members[i];
    char folded[24];
    size_t k;
    qv_dispid id = 0;
    const char* name = NULL;
    qv_member_kind kind = 0;
    const qv_member_kind want_kind = m->rule == FLAG    ? QV_MEMBER_FLAG
                                     : m->rule == INT16 ? QV_MEMBER_INT16
                                                        : QV_MEMBER_TEXT;
    check_status(qv_vcard_dispid(m->name, &id), QV_S_OK, "dispid", __LINE__, m->name);
    CHECK_AT(id == 0x6803020D - i, m->name);
    for (k = 0; k <= strlen(m->name); ++k) {
      folded[k] = fold_case(m->name[k], (int)(k % 2));
    }
    id = 0;
    CHECK_AT(qv_vcard_dispid(folded, &id) == QV_S_OK && id == 0x6803020D - i, folded);
    check_status(qv_vcard_member(0x6803020D - i, &name, &kind), QV_S_OK, "member", __LINE__,
                 m->name);
    CHECK_AT(name != NULL && strcmp(name, m->name) == 0 && kind == want_kind, m->name);
  }
  CHECK(id_of("NameFamily") == 0x6803020D);
  CHECK(id_of("TimeZone") == 0x6803018D);
  CHECK(id_of("VCARD") == QV_DISPID_VCARD);
  CHECK(id_of("vcardfilename") == QV_DISPID_VCARDFILENAME);
  CHECK(id_of("vCardClean") == QV_DISPID_VCARDCLEAN);
  {
    const char* name = NULL;
    qv_member_kind kind = 0;
    CHECK(qv_vcard_member(QV_DISPID_VCARD, &name, &kind) == QV_S_OK && strcmp(name, "vCard") == 0 &&
          kind == QV_MEMBER_READONLY_TEXT);
    CHECK(qv_vcard_member(QV_DISPID_VCARDCLEAN, &name, &kind) == QV_S_OK &&
          strcmp(name, "vCardClean") == 0 && kind == QV_MEMBER_METHOD);
    CHECK_STATUS(qv_vcard_member(0x6803018C, &name, &kind), QV_E_MEMBERNOTFOUND);
    CHECK(name == NULL && kind == 0);
  }
  {
    static const char* const unknown[] = {
        "", "Name", "NameFamily ", " NameFamily", "NameFamilyX", "Tel5_Number", "N\303\244me"};
    size_t k;
    for (k = 0; k < sizeof unknown / sizeof *unknown; ++k) {
      qv_dispid id = 42;
      check_status(qv_vcard_dispid(unknown[k], &id), QV_E_UNKNOWNNAME, "dispid", __LINE__,
                   unknown[k]);
      CHECK_AT(id == 0, unknown[k]);
    }
  }
  {
    static const qv_utf16 tz[] = {'t', 'I', 'm', 'E', 'z', 'O', 'n', 'E', 0};
    static const qv_utf16 tz_nul[] = {'T', 'i', 'm', 'e', 'Z', 'o', 'n', 'e', 0, 'x'};
    qv_dispid id = 0;
    CHECK(qv_vcard_dispid_utf16(tz, QV_NTS, &id) == QV_S_OK && id == 0x6803018D);
    CHECK(qv_vcard_dispid_utf16(tz, 4, &id) == QV_E_UNKNOWNNAME && id == 0);
    CHECK_STATUS(qv_vcard_dispid_utf16(tz_nul, 10, &id), QV_E_UNKNOWNNAME);
  }
}

/* Every property through the kind and read rule of its row: one object
 * holds a distinct value in each, so a member wired to the wrong field or
 * rule shows up in the read of that member. */
static void test_every_property(void) {
  qv_vcard* card = new_card();
  char value[96], want[160];
  int i;
  for (i = 0; i < member_count; ++i) {
    const qv_dispid id = 0x6803020D - i;
    if (is_text(members[i].rule)) {
      snprintf(value, sizeof value, "v%d \303\274 \360\237\230\200 %.23s", i, members[i].name);
      check_status(qv_vcard_put_utf8(card, id, value, QV_NTS), QV_S_OK, "put", __LINE__,
                   members[i].name);
      /* a text into a flag or integer is refused, and the reverse */
      check_status(qv_vcard_put_int16(card, id, 1), QV_E_TYPEMISMATCH, "put", __LINE__,
                   members[i].name);
    } else {
      check_status(qv_vcard_put_int16(card, id, (int16_t)(i * 257 - 20000)), QV_S_OK, "put",
                   __LINE__, members[i].name);
      check_status(qv_vcard_put_utf8(card, id, "1", 1), QV_E_TYPEMISMATCH, "put", __LINE__,
                   members[i].name);
    }
  }
  for (i = 0; i < member_count; ++i) {
    const struct member* m = &members[i];
    const qv_dispid id = 0x6803020D - i;
    int16_t v = 77;
    snprintf(value, sizeof value, "v%d \303\274 \360\237\230\200 %.23s", i, m->name);
    switch (m->rule) {
      case FLAG:
      case INT16:
        check_status(qv_vcard_get_int16(card, id, &v), QV_S_OK, "get", __LINE__, m->name);
        CHECK_AT(v == (int16_t)(i * 257 - 20000), m->name);
        continue;
      case TEXT_SEPARATOR:
        snprintf(want, sizeof want, "%.96s;", value);
        break;
      case TEXT_LINE:
        snprintf(want, sizeof want, "%.20s%.96s\r\n", m->line, value);
        break;
      case TEXT_LAT_SIGN:
        strcpy(want, "-");
        break;
      case TEXT_LON_SIGN:
        strcpy(want, "+");
        break;
      default:
        strcpy(want, value);
        break;
    }
    CHECK_AT(reads_utf8(card, id, want, strlen(want)), m->name);
    check_status(qv_vcard_get_int16(card, id, &v), QV_E_TYPEMISMATCH, "get", __LINE__, m->name);
    CHECK_AT(v == 0, m->name);
  }
  /* the sign reads follow the stored hemisphere letter */
  qv_vcard_put_utf8(card, id_of("GeoLat"), "N", 1);
  qv_vcard_put_utf8(card, id_of("GeoLon"), "W", 1);
  CHECK(reads_utf8(card, id_of("GeoLat"), "+", 1));
  CHECK(reads_utf8(card, id_of("GeoLon"), "-", 1));
  /* flags are stored as given, not normalised; integers take the full range */
  CHECK_STATUS(qv_vcard_put_int16(card, id_of("Tel3_Fax"), 1), QV_S_OK);
  CHECK_STATUS(qv_vcard_put_int16(card, id_of("Adr2_Home"), QV_TRUE), QV_S_OK);
  CHECK_STATUS(qv_vcard_put_int16(card, id_of("GeoLatMin"), -32768), QV_S_OK);
  CHECK_STATUS(qv_vcard_put_int16(card, id_of("GeoLonSec"), 32767), QV_S_OK);
  {
    int16_t a = 0, b = 0, c = 0, d = 0;
    qv_vcard_get_int16(card, id_of("Tel3_Fax"), &a);
    qv_vcard_get_int16(card, id_of("Adr2_Home"), &b);
    qv_vcard_get_int16(card, id_of("GeoLatMin"), &c);
    qv_vcard_get_int16(card, id_of("GeoLonSec"), &d);
    CHECK(a == 1 && b == -1 && c == -32768 && d == 32767);
  }
  /* the empty text is stored: a separator read gives ";" alone */
  CHECK_STATUS(qv_vcard_put_utf8(card, id_of("Adr3_Street"), "", 0), QV_S_OK);
  CHECK(reads_utf8(card, id_of("Adr3_Street"), ";", 1));
  qv_vcard_destroy(card);
}

/* UTF-8 and UTF-16 in and out, including characters outside the BMP, 0
 * units inside a text, and the refusal of ill-formed UTF-8. */
static void test_texts(void) {
  static const char smile8[] = "Zo\303\253 \360\237\230\200";
  static const qv_utf16 smile16[] = {'Z', 'o', 0xEB, ' ', 0xD83D, 0xDE00};
  static const qv_utf16 lone[] = {'a', 0xD800, 'b'};
  static const char* const ill_formed[] = {"\200",             /* a continuation byte alone */
                                           "a\302",            /* truncated two-byte sequence */
                                           "\342\202",         /* truncated three-byte sequence */
                                           "\300\200",         /* overlong NUL */
                                           "\340\200\257",     /* overlong "/" */
                                           "\355\240\200",     /* an encoded surrogate */
                                           "\364\220\200\200", /* beyond U+10FFFF */
                                           "\377",
                                           "x\342\202\254y\370"};
  qv_vcard* card = new_card();
  const qv_dispid note = id_of("NameSuffix");
  size_t k;
  char* text = NULL;
  size_t n = 99;

  CHECK_STATUS(qv_vcard_put_utf8(card, note, smile8, QV_NTS), QV_S_OK);
  CHECK(reads_utf16(card, note, smile16, 6));
  CHECK(reads_utf8(card, note, smile8, strlen(smile8)));
  CHECK_STATUS(qv_vcard_put_utf16(card, note, smile16, 6), QV_S_OK);
  CHECK(reads_utf8(card, note, smile8, strlen(smile8)));

  /* explicit lengths keep 0 bytes and cut at the length */
  CHECK_STATUS(qv_vcard_put_utf8(card, note, "a\0b", 3), QV_S_OK);
  CHECK(reads_utf8(card, note, "a\0b", 3));
  CHECK_STATUS(qv_vcard_put_utf8(card, note, "abcdef", 2), QV_S_OK);
  CHECK(reads_utf8(card, note, "ab", 2));

  /* ill-formed UTF-8 is refused and the stored text kept */
  qv_vcard_put_utf8(card, note, "kept", QV_NTS);
  for (k = 0; k < sizeof ill_formed / sizeof *ill_formed; ++k) {
    check_status(qv_vcard_put_utf8(card, note, ill_formed[k], QV_NTS), QV_E_NOUNICODETRANSLATION,
                 "put", __LINE__, "ill-formed");
  }
  CHECK(reads_utf8(card, note, "kept", 4));
  /* the largest scalar values of each length are well-formed */
  CHECK_STATUS(qv_vcard_put_utf8(card, note, "\177\337\277\357\277\277\364\217\277\277", QV_NTS),
               QV_S_OK);

  /* an unpaired surrogate is stored as given; UTF-8 cannot carry it */
  CHECK_STATUS(qv_vcard_put_utf16(card, note, lone, 3), QV_S_OK);
  CHECK(reads_utf16(card, note, lone, 3));
  CHECK_STATUS(qv_vcard_get_utf8(card, note, &text, &n), QV_E_NOUNICODETRANSLATION);
  CHECK(text == NULL && n == 0);
  /* ... which then fails the card read too, while the UTF-16 read works */
  CHECK_STATUS(qv_vcard_card_utf8(card, &text, NULL), QV_E_NOUNICODETRANSLATION);
  {
    qv_utf16* card16 = NULL;
    CHECK_STATUS(qv_vcard_card_utf16(card, &card16, &n), QV_S_OK);
    CHECK(card16 != NULL && n > 0 && card16[n] == 0);
    qv_vcard_free_utf16(card16);
  }
  qv_vcard_destroy(card);
}

/* Members refuse what they do not offer, with the automation statuses, and
 * hand out nothing when they fail. */
static void test_refusals(void) {
  qv_vcard* card = new_card();
  const qv_dispid family = id_of("NameFamily");
  const qv_dispid dom = id_of("Adr1_Dom");
  static const qv_dispid unknown[] = {
      0, -1, 0x6803018C, 0x6803020F, 0x6003021E, (qv_dispid)0x80000000, 0x7FFFFFFF};
  char* text = (char*)&text;
  qv_utf16* text16 = (qv_utf16*)&text16;
  size_t n = 5;
  int16_t v = 5;
  size_t k;
  qv_dispid id = 0;
  static const qv_utf16 x16[] = {'x'};

  CHECK_STATUS(qv_vcard_put_utf8(card, QV_DISPID_VCARD, "x", 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_put_utf16(card, QV_DISPID_VCARD, x16, 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_put_utf8(card, QV_DISPID_VCARDFILENAME, "x", 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_put_int16(card, QV_DISPID_VCARDFILENAME, 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_put_utf8(card, QV_DISPID_VCARDCLEAN, "x", 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_get_utf8(card, QV_DISPID_VCARDCLEAN, &text, &n), QV_E_MEMBERNOTFOUND);
  CHECK(text == NULL && n == 0);
  CHECK_STATUS(qv_vcard_get_int16(card, QV_DISPID_VCARD, &v), QV_E_TYPEMISMATCH);
  CHECK(v == 0);
  CHECK_STATUS(qv_vcard_get_utf16(card, dom, &text16, &n), QV_E_TYPEMISMATCH);
  CHECK(text16 == NULL);
  for (k = 0; k < sizeof unknown / sizeof *unknown; ++k) {
    check_status(qv_vcard_put_utf8(card, unknown[k], "x", 1), QV_E_MEMBERNOTFOUND, "put", __LINE__,
                 "unknown id");
    check_status(qv_vcard_put_int16(card, unknown[k], 1), QV_E_MEMBERNOTFOUND, "put", __LINE__,
                 "unknown id");
    check_status(qv_vcard_get_utf8(card, unknown[k], &text, NULL), QV_E_MEMBERNOTFOUND, "get",
                 __LINE__, "unknown id");
    check_status(qv_vcard_get_int16(card, unknown[k], &v), QV_E_MEMBERNOTFOUND, "get", __LINE__,
                 "unknown id");
  }
  /* every status has its words, the same on every surface */
  CHECK(strcmp(qv_vcard_status_text(QV_E_OVERFLOW), "16-bit overflow") == 0);
  CHECK(strcmp(qv_vcard_status_text(QV_E_UNEXPECTED), "unexpected failure") == 0);
  CHECK(strcmp(qv_vcard_status_text((qv_status)0x80001234), "failure") == 0);
  /* a length no text can have is refused before the text is read */
  CHECK_STATUS(qv_vcard_put_utf16(card, family, x16, SIZE_MAX - 1), QV_E_OUTOFMEMORY);
  CHECK_STATUS(qv_vcard_put_utf8(card, family, "x", SIZE_MAX - 1), QV_E_OUTOFMEMORY);
  CHECK_STATUS(qv_vcard_dispid_utf16(x16, SIZE_MAX - 1, &id), QV_E_UNKNOWNNAME);
  /* a refused member is checked before its text: no conversion status */
  CHECK_STATUS(qv_vcard_put_utf8(card, QV_DISPID_VCARD, "\377", 1), QV_E_MEMBERNOTFOUND);
  CHECK_STATUS(qv_vcard_put_utf8(card, dom, "\377", 1), QV_E_TYPEMISMATCH);

  /* NULL where a pointer is required */
  CHECK_STATUS(qv_vcard_create(NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_clean(NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_dispid(NULL, &id), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_dispid("NameFamily", NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_dispid_utf16(NULL, 1, &id), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_member(family, NULL, NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_put_utf8(NULL, family, "x", 1), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_put_utf8(card, family, NULL, 0), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_put_utf16(card, family, NULL, 0), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_put_int16(NULL, dom, 1), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_get_utf8(card, family, NULL, &n), QV_E_POINTER);
  text = (char*)&text;
  CHECK_STATUS(qv_vcard_get_utf8(NULL, family, &text, &n), QV_E_POINTER);
  CHECK(text == NULL && n == 0);
  CHECK_STATUS(qv_vcard_get_utf16(NULL, family, &text16, NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_get_int16(card, dom, NULL), QV_E_POINTER);
  v = 3;
  CHECK_STATUS(qv_vcard_get_int16(NULL, dom, &v), QV_E_POINTER);
  CHECK(v == 0);
  CHECK_STATUS(qv_vcard_card_utf8(card, NULL, NULL), QV_E_POINTER);
  CHECK_STATUS(qv_vcard_file_name_utf16(NULL, &text16, NULL), QV_E_POINTER);
  /* releasing nothing is allowed, as with free() */
  CHECK_STATUS(qv_vcard_destroy(NULL), QV_S_OK);
  CHECK_STATUS(qv_vcard_free_utf8(NULL), QV_S_OK);
  CHECK_STATUS(qv_vcard_free_utf16(NULL), QV_S_OK);

  /* nothing refused above reached the record */
  CHECK(reads_utf8(card, family, ";", 1));
  qv_vcard_get_int16(card, dom, &v);
  CHECK(v == 0);
  qv_vcard_destroy(card);
}

/* Reset keeps TimeZone only; objects do not share a record. */
static void test_clean_and_independence(void) {
  qv_vcard* a = new_card();
  qv_vcard* b = new_card();
  int16_t v = 0;
  qv_vcard_put_utf8(a, id_of("NameGiven"), "Ann", 3);
  qv_vcard_put_utf8(a, id_of("TimeZone"), "+01:00", 6);
  qv_vcard_put_int16(a, id_of("Email3_Pref"), QV_TRUE);
  CHECK(reads_utf8(b, id_of("NameGiven"), ";", 1));
  CHECK_STATUS(qv_vcard_clean(a), QV_S_OK);
  CHECK(reads_utf8(a, id_of("NameGiven"), ";", 1));
  CHECK(reads_utf8(a, id_of("TimeZone"), "TZ:+01:00\r\n", 11));
  qv_vcard_get_int16(a, id_of("Email3_Pref"), &v);
  CHECK(v == 0);
  qv_vcard_destroy(a);
  qv_vcard_destroy(b);
}

/* Whether a card line matches its expectation, where "REV:*" stands for a
 * time stamp and "UID:*" for an upper-case GUID. */
static int line_matches(const char* got, size_t len, const struct corpus_text* want) {
  static const char stamp[] = "dddd-dd-ddTdd:dd:ddZ";
  static const char guid[] = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  const char* shape = NULL;
  size_t k;
  if (strcmp(want->text, "REV:*") == 0) shape = stamp;
  if (strcmp(want->text, "UID:*") == 0) shape = guid;
  if (shape == NULL) return len == want->len && memcmp(got, want->text, len) == 0;
  if (len != 4 + strlen(shape) || memcmp(got, want->text, 4) != 0) return 0;
  for (k = 0; shape[k] != '\0'; ++k) {
    const char c = got[4 + k];
    const int digit = c >= '0' && c <= '9';
    if (shape[k] == 'd'   ? !digit
        : shape[k] == 'x' ? !(digit || (c >= 'A' && c <= 'F'))
                          : c != shape[k]) {
      return 0;
    }
  }
  return 1;
}

static void test_corpus(void) {
  int i;
  for (i = 0; i < CORPUS_CASE_COUNT; ++i) {
    const struct corpus_case* c = &corpus_cases[i];
    qv_vcard* card = new_card();
    const struct corpus_set* set;
    char* text = (char*)&text;
    size_t n = 0;
    qv_status s;
    for (set = c->set; set->name != NULL; ++set) {
      qv_dispid id = 0;
      check_status(qv_vcard_dispid(set->name, &id), QV_S_OK, "dispid", __LINE__, c->name);
      s = set->text != NULL ? qv_vcard_put_utf8(card, id, set->text, set->len)
                            : qv_vcard_put_int16(card, id, (int16_t)set->value);
      check_status(s, QV_S_OK, "put", __LINE__, c->name);
    }
    s = qv_vcard_card_utf8(card, &text, &n);
    if (!c->has_card) {
      check_status(s, c->status, "card", __LINE__, c->name);
      CHECK_AT(text == NULL && n == 0, c->name);
    } else {
      const struct corpus_text* want = c->card;
      const char* line = text;
      const char* end = text + n;
      int at_end = 0;
      check_status(s, QV_S_OK, "card", __LINE__, c->name);
      /* lines end in CR LF, the last one (END:VCARD) in nothing */
      for (; s == QV_S_OK && want->text != NULL; ++want) {
        const char* eol = line;
        while (eol + 1 < end && !(eol[0] == '\r' && eol[1] == '\n')) ++eol;
        if (eol + 1 >= end) eol = end;
        CHECK_AT(line_matches(line, (size_t)(eol - line), want), want->text);
        at_end = eol == end;
        line = at_end ? end : eol + 2;
      }
      CHECK_AT(at_end, c->name);
    }
    qv_vcard_free_utf8(text);
    CHECK_AT(qv_vcard_file_name_utf8(card, &text, &n) == QV_S_OK && n == c->file_name.len &&
                 memcmp(text, c->file_name.text, n) == 0,
             c->name);
    qv_vcard_free_utf8(text);
    qv_vcard_destroy(card);
  }
}

int main(void) {
  build_member_table();
  test_identifiers();
  test_every_property();
  test_texts();
  test_refusals();
  test_clean_and_independence();
  test_corpus();
  printf("%d checks, %d failed (%d corpus cases)\n", checks, failures, CORPUS_CASE_COUNT);
  return failures == 0 ? 0 : 1;
}
