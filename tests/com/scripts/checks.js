// Late-bound behaviour of qv_VCard.qvVCard as JScript sees it, and the file
// name's classification by the system's ANSI code page, which the caller
// names as the first argument (1252 or 932). Ends with "DONE failed=N".
var failed = 0;
function expect(ok, what) {
  if (!ok) {
    failed++;
    WScript.Echo("FAIL " + what);
  }
}
function error(f) {
  try {
    f();
  } catch (e) {
    return e.number;
  }
  return 0;
}

var card = new ActiveXObject("qv_VCard.qvVCard");
card.NameFamily = "Doe";
card.Tel2_Fax = true;
card.GeoLonSec = 59;
expect(typeof card.NameFamily == "string" && card.NameFamily == "Doe;", "text property");
expect(typeof card.Tel2_Fax == "boolean" && card.Tel2_Fax === true, "flag property");
expect(typeof card.GeoLonSec == "number" && card.GeoLonSec == 59, "integer property");
// Refused by the dispatch layer: 438 on Windows' JScript, the raw
// DISP_E_MEMBERNOTFOUND under Wine's.
var refused = error(function () { card.vCard = "x"; });
expect(refused == -2146827850 || refused == -2147352573, "assigning vCard refused: " + refused);
card.GeoLonDeg = -32768;
card.GeoLonMin = -1;
expect(error(function () { return card.vCard; }) == -2146828282, "GEO overflow is 0x800A0006");
card.vCardClean();
expect(error(function () { return card.vCard; }) == 0, "vCardClean clears the overflow");

// A, a-umlaut, A-macron, half-width katakana A, a CJK ideograph, a character
// outside the Basic Multilingual Plane, B.
card.FormatedName = "A\u00E4\u0100\uFF71\u65E5\uD83D\uDE00B";
var expected = {
  "1252": "A\u00E4B.vcf",  // single-byte letters stay; A-macron has no best fit
  "932": "A\uFF71B.vcf"    // the katakana is one byte, the ideograph two
};
var cp = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "1252";
expect(card.vCardFileName == expected[cp], "file name in code page " + cp + ": " + escape(card.vCardFileName));

WScript.Echo("DONE failed=" + failed);
