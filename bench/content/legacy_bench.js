/*
 * The content script's load pass in the legacy script engine (IE7 document mode: no JSON, so
 * the script reads the store with its own parser), over 100, 1,000 and 2,000 templates (5,000 do not fit the store) that do
 * not match the page, from the real store. Run by tools/bench.sh through the legacy suite's
 * runner; not part of the tests. The same templates as the Chromium benchmark.
 *
 * The anchor is the safe reader of the era before JSON was built in, on the same text in the
 * same engine: the whole text checked against JSON's tokens with regular expressions, then
 * eval'd.
 */
var BenchFso = new ActiveXObject("Scripting.FileSystemObject");
var BenchScript = BenchFso.OpenTextFile(WScript.Arguments(0), 1).ReadAll();
var BenchExtension = new ActiveXObject("VelnorIE.VelnorIEExt");
var window = null;
var document = null;
var console;

function BenchTemplates(nCount) {
    var pList = [];
    for (var i = 0; i < nCount; i++) {
        pList[i] = "{\"url\":\"https://site-" + i + ".example/login*\",\"title\":\"Sign in " + i + "\",\"elements\":[" +
                   "{\"find\":{\"type\":\"id\",\"value\":\"f" + ((i * 19) % 2000) + "\"},\"actions\":[{\"type\":\"text\",\"value\":\"value " + i + "\"}]}," +
                   "{\"find\":{\"type\":\"name\",\"value\":\"n" + ((i * 7) % 2000) + "\"},\"actions\":[{\"type\":\"text\",\"value\":\"other " + i + "\"}]}]}";
    }
    return "[" + pList.join(",") + "]";
}

function BenchClassicParse(sText) {
    if (/^[\],:{}\s]*$/.test(sText.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g, "@")
                                 .replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g, "]")
                                 .replace(/(?:^|:|,)(?:\s*\[)+/g, ""))) {
        return eval("(" + sText + ")");
    }
    throw new Error("not JSON");
}

function BenchMedian(pTimes) {
    pTimes.sort(function (a, b) { return a - b; });
    return pTimes[Math.floor(pTimes.length / 2)];
}

var BenchCounts = [100, 1000, 2000];
var BenchRounds = 5;
WScript.Echo("templates  matching   ms per load pass   validate-then-eval ms   ratio   (medians of " + BenchRounds + ")");
for (var BenchIndex = 0; BenchIndex < BenchCounts.length; BenchIndex++) {
    BenchExtension.Templates = BenchTemplates(BenchCounts[BenchIndex]);
    BenchExtension.DebugTime = 0;
    var BenchText = BenchExtension.Templates;
    var BenchTimes = [];
    var BenchAnchor = [];
    for (var BenchRound = 0; BenchRound < BenchRounds; BenchRound++) {
        var BenchPage = new LegacyPage("IE7", "http://intranet.example/login.aspx", "bench", LegacyLoginForm());
        window = BenchPage.window;
        document = BenchPage.document;
        window.VelnorIEExt = BenchExtension;
        JSON = undefined;
        var BenchStart = new Date().getTime();
        eval(BenchScript);
        BenchTimes[BenchRound] = new Date().getTime() - BenchStart;
        BenchStart = new Date().getTime();
        BenchClassicParse(BenchText);
        BenchAnchor[BenchRound] = new Date().getTime() - BenchStart;
    }
    var BenchPass = BenchMedian(BenchTimes);
    var BenchAnchorMs = BenchMedian(BenchAnchor);
    WScript.Echo("     " + BenchCounts[BenchIndex] + "  no         " + BenchPass + "                " + BenchAnchorMs +
                 "                      " + (BenchAnchorMs > 0 ? Math.round(BenchPass / BenchAnchorMs * 100) / 100 : "-"));
}
BenchExtension.Templates = "";
