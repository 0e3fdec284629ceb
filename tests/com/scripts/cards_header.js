// Helpers of the generated card script; props and cases follow as data.
function esc(s) {
  var r = "";
  for (var i = 0; i < s.length; i++) {
    var c = s.charCodeAt(i);
    if (c >= 32 && c < 127 && c != 92) {
      r += s.charAt(i);
    } else {
      var h = c.toString(16).toUpperCase();
      while (h.length < 4) h = "0" + h;
      r += "\\u" + h;
    }
  }
  return r;
}

function hex8(n) {
  if (n < 0) n += 4294967296;
  var h = n.toString(16).toUpperCase();
  while (h.length < 8) h = "0" + h;
  return h;
}

function run(cases, props) {
  for (var i = 0; i < cases.length; i++) {
    var c = cases[i];
    var o = new ActiveXObject("qv_VCard.qvVCard");
    WScript.Echo("CASE " + i);
    for (var j = 0; j < c.set.length; j++) o[c.set[j][0]] = c.set[j][1];
    for (var k = 0; k < props.length; k++) {
      var v = o[props[k][0]];
      if (props[k][1] == "Text") v = esc(v);
      else if (props[k][1] == "Flag") v = v ? "True" : "False";
      WScript.Echo("READ " + props[k][0] + " " + v);
    }
    try {
      WScript.Echo("CARD " + esc(o.vCard));
    } catch (e) {
      WScript.Echo("STATUS " + hex8(e.number));
    }
    WScript.Echo("FILE " + esc(o.vCardFileName));
    WScript.Echo("END");
  }
  WScript.Echo("DONE failed=0");
}
