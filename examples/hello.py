import qv_vcard
card = qv_vcard.qvVCard(NameFamily="Doe", NameGiven="John")
card.Tel1_Number, card.Tel1_Cell = "+1-555-0100", True
print(card.vCardFileName)
print(card.vCard)
