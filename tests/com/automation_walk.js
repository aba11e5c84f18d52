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

while (e != null) {
    WScript.Echo("ensemble " + f.Position);
    // Scalars, per-beam and profile arrays, as automation_test.sh lists them.
    for (var item = 7100; item <= 8001; ++item)
        if (item < 7150 || (item >= 7300 && item < 7325) || (item >= 7502 && item < 7525) ||
            (item >= 7700 && item % 20 < 2))
            WScript.Echo(item + " " + show(e.GetItemVariant(item)));
    e = f.Next();
}
WScript.Echo("automation script: done");
