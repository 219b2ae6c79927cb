/*
 * What every page pays for the content script in the legacy script engine (IE7 document mode:
 * no JSON), when the store holds no template for that page: the script's text parsed and run as
 * page-level code, against an empty script run the same way, in the same rounds. Run by
 * tools/bench.sh through the legacy suite's runner; not part of the tests.
 *
 *   cscript page_double.js+page_cost_legacy.js SHIPPED SOURCE
 *
 * SHIPPED is the text the DLL carries, SOURCE the text with its comments, for comparison. The
 * extension object is the real one (the build's DLL, registered), so the script's reads of
 * DebugTime and Templates go through its IDispatch to the real store. The runs are global code
 * (eval at the script's top level), as execScript runs the script in a page.
 *
 * Where the time goes: wrapped in a function that is never called, a text is parsed and
 * compiled (this engine compiles every function of a script before it runs any of it) but not
 * run; and a text of as many tokens of the plainest kind shows the engine's cost per token.
 */
var CostFso = new ActiveXObject("Scripting.FileSystemObject");
var CostShipped = CostFso.OpenTextFile(WScript.Arguments(0), 1).ReadAll();
var CostSource = CostFso.OpenTextFile(WScript.Arguments(1), 1).ReadAll();
var CostExtension = new ActiveXObject("VelnorIE.VelnorIEExt");
/* For comparison: the same members as a plain script object, so that reading them costs nothing. */
var CostScriptObject = { DebugTime: 0, Templates: "", AuthCreds: "" };
var window = null;
var document = null;
var console;

function CostTemplates(nCount) {
    var pList = [];
    for (var i = 0; i < nCount; i++) {
        pList[i] = "{\"url\":\"https://site-" + i + ".example/login*\",\"title\":\"Sign in " + i + "\",\"elements\":[" +
                   "{\"find\":{\"type\":\"id\",\"value\":\"f" + i + "\"},\"actions\":[{\"type\":\"text\",\"value\":\"value " + i + "\"}]}]}";
    }
    return nCount ? "[" + pList.join(",") + "]" : "";
}

/* About how many tokens a script has: names, numbers, strings, and each other character (an
   operator of two characters counts twice, a regular expression as its pieces). */
function CostTokenCount(sText) {
    return sText.match(/[A-Za-z_$][\w$]*|\d+(?:\.\d+)?|"(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*'|[^\s\w]/g).length;
}

/* A sketch of a start that compiles the script only for a store with text: the text carried as
   one string, and a check of DebugTime and Templates that stops on an empty store. (Not what
   ships: the empty-store page then lacks the script's globals and startsWith.) */
function CostDeferredSketch(sScript) {
    return "var CostDeferredBody = \"" + sScript.replace(/\\/g, "\\\\").replace(/"/g, "\\\"").replace(/\r?\n/g, "\\n") +
           "\";\n(function (pExtension) { if (!pExtension.DebugTime && !pExtension.Templates) { return; }" +
           " eval(CostDeferredBody); })(window.VelnorIEExt);";
}

/* A script of that many tokens of the plainest kind: statements "x;". */
function CostPlainTokens(nTokens) {
    var pStatements = [];
    for (var i = 0; i < nTokens / 2; i++) {
        pStatements[i] = "x;";
    }
    return "(function () {\nvar x;\n" + pStatements.join("\n") + "\n})";
}

function CostPages(nCount, pExtension) {
    var pPages = [];
    for (var i = 0; i < nCount; i++) {
        pPages[i] = new LegacyPage("IE7", "http://intranet.example/login.aspx", "bench", LegacyLoginForm());
        pPages[i].window.VelnorIEExt = pExtension;
    }
    return pPages;
}

var CostRounds = 9;
var CostRunsPerRound = 20;
/* [what, text, runs per round]: the empty script is run often enough for the clock. A fresh page
   for each of the first 20 runs, then the same pages again (the empty script touches none). */
/* The shipped text without its last statement's call of the start: the closure's functions and
   patterns made, nothing read, nothing checked. */
var CostNotStarted = CostShipped.replace(/\nStartVelnorSSO\(\);\n/, "\n;\n");
var CostScripts = [["shipped", CostShipped, CostRunsPerRound],
                   ["shipped, a script object for the extension's", CostShipped, CostRunsPerRound],
                   [CostNotStarted == CostShipped ? "(the start's call was not found)" : "shipped, not started",
                    CostNotStarted, CostRunsPerRound],
                   ["DebugTime and Templates read, nothing else",
                    "var CostA = window.VelnorIEExt.DebugTime, CostB = window.VelnorIEExt.Templates;", CostRunsPerRound],
                   ["source, with comments", CostSource, CostRunsPerRound],
                   ["shipped, parsed only", "(function () {\n" + CostShipped + "\n})", CostRunsPerRound],
                   ["source, parsed only", "(function () {\n" + CostSource + "\n})", CostRunsPerRound],
                   ["as many tokens \"x;\", parsed only", CostPlainTokens(CostTokenCount(CostShipped)), CostRunsPerRound],
                   ["sketch: compiled only for a store with text", CostDeferredSketch(CostShipped), CostRunsPerRound],
                   ["empty", "", 50 * CostRunsPerRound]];
var CostEmpty = CostScripts.length - 1;
WScript.Echo("text sizes: shipped " + CostShipped.length + " characters, source " + CostSource.length +
             "; about " + CostTokenCount(CostShipped) + " tokens");
WScript.Echo("store        script                                       ms per page (best of " + CostRounds +
             " rounds)   ratio to empty");
var CostStores = [0, 10];
for (var CostStore = 0; CostStore < CostStores.length; CostStore++) {
    CostExtension.Templates = CostTemplates(CostStores[CostStore]);
    CostExtension.DebugTime = 0;
    CostScriptObject.Templates = CostExtension.Templates;
    var CostBest = [];
    for (var CostK = 0; CostK < CostScripts.length; CostK++) {
        CostBest[CostK] = 1e9;
    }
    for (var CostRound = 0; CostRound < CostRounds; CostRound++) {
        for (CostK = 0; CostK < CostScripts.length; CostK++) {
            var CostText = CostScripts[CostK][1];
            var CostRuns = CostScripts[CostK][2];
            var CostPageList = CostPages(Math.min(CostRuns, 20), CostK == 1 ? CostScriptObject : CostExtension);
            JSON = undefined;
            var CostStart = new Date().getTime();
            for (var CostJ = 0; CostJ < CostRuns; CostJ++) {
                window = CostPageList[CostJ % CostPageList.length].window;
                document = CostPageList[CostJ % CostPageList.length].document;
                eval(CostText);
            }
            CostBest[CostK] = Math.min(CostBest[CostK], (new Date().getTime() - CostStart) / CostRuns);
        }
    }
    for (CostK = 0; CostK < CostScripts.length; CostK++) {
        WScript.Echo((CostStores[CostStore] + " templates            ").substring(0, 13) +
                     (CostScripts[CostK][0] + "                                             ").substring(0, 45) +
                     CostBest[CostK].toFixed(3) + "                         " +
                     (CostBest[CostEmpty] > 0 ? (CostBest[CostK] / CostBest[CostEmpty]).toFixed(0) : "-"));
    }
}
CostExtension.Templates = "";
