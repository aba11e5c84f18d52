// Reads a deployment through Hyd.EnsembleFile as a JScript user would: labels and texts, then every
// variant item of every ensemble. automation_test.sh compares the lines with hyd dump.
// Argument: SAMPLE
var f = new ActiveXObject("Hyd.EnsembleFile");

// Arrays come typed; VariantArray makes them something VBArray takes (and Wine's JScript cannot
// even ask a typed array its type, so VBArray's refusal tells a single value).
function show(v) {
    try {
        return new VBArray(f.VariantArray(v)).toArray().join(",");
    } catch (x) {
        return v === undefined ? "empty" : String(v);
    }
}

f.Open(WScript.Arguments(0));
var e = f.Next(), items = [7510, 7701, 7721, 7801, 7113];
for (var i = 0; i < items.length; ++i)
    WScript.Echo("labels " + items[i] + " " + show(e.GetItemLabels(items[i])));
WScript.Echo("text 5008 " + e.GetResourceText(5008));
try {
    e.GetResourceText(1);
} catch (x) {
    WScript.Echo("text 1 error");
}

function range(first, last) {
    for (var item = first; item <= last; ++item)
        WScript.Echo(item + " " + show(e.GetItemVariant(item)));
}
f.Open(WScript.Arguments(0));
while ((e = f.Next()) != null) {
    WScript.Echo("ensemble " + f.Position);
    range(7100, 7149);
    range(7300, 7324);
    range(7502, 7524);
    for (var id = 7700; id <= 8000; id += 20) range(id, id + 1);
}
WScript.Echo("automation script: done");
