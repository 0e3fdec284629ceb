/* Builds a card through the C interface and prints it. */
#include <qv_vcard/qv_vcard.h>
#include <stdio.h>

/* clang-format off: kept in the five-line form the README shows */
int main(void) {
  qv_vcard* card;
  qv_dispid id;
  char* text;
  qv_vcard_create(&card);
  qv_vcard_dispid("NameFamily", &id);
  qv_vcard_put_utf8(card, id, "Doe", QV_NTS);
  if (qv_vcard_card_utf8(card, &text, NULL) == QV_S_OK) puts(text);
  qv_vcard_free_utf8(text);
  return qv_vcard_destroy(card);
}
/* clang-format on */
