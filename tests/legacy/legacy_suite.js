/*
 * The content script in a real legacy JScript engine (the script host's JScript 5.8, the engine
 * of Internet Explorer's IE7 document mode), against the real extension object and its real
 * template store: the test double of the page is page_double.js; window.VelnorIEExt is the
 * registered class "VelnorIE.VelnorIEExt".
 *
 *   cscript //nologo suite.js <content.js> <expected build: x86|x64> <build's bin folder> <work folder>
 *
 * Each case runs the content script as page-level code, as execScript does, in the IE7, IE8
 * and IE9 document modes, plays its timers on a virtual clock and checks what the page saw and
 * what the store holds afterwards. A case of several pages (a recording, then a sign-on) runs
 * them in turn, beside the build's store tool, and its pages reach the store as bound pages do
 * (page_write.exe). Prints "ok" or "not ok" per check, then a closing line; the host reports
 * neither script errors nor failures by its exit code, so the runner needs both.
 */

var LegacyFso = new ActiveXObject("Scripting.FileSystemObject");
var LegacyContentScript = LegacyFso.OpenTextFile(WScript.Arguments(0), 1).ReadAll();
var LegacyExtension = new ActiveXObject("VelnorIE.VelnorIEExt");
var LegacyPassed = 0;
var LegacyFailed = 0;

/* The page's globals, set for each case. */
var window = null;
var document = null;
var console;
var LegacyPageNow = null;
var LegacyTraces = [];
var LegacyErrors = [];

function LegacyOk(fCondition, sName, sDetail) {
    if (fCondition) {
        LegacyPassed++;
        WScript.Echo("ok - " + sName);
    } else {
        LegacyFailed++;
        WScript.Echo("not ok - " + sName + (sDetail === undefined ? "" : " -- " + sDetail));
    }
}

function LegacyEqual(pActual, pExpected, sName) {
    LegacyOk(pActual === pExpected, sName, "got <" + pActual + ">, expected <" + pExpected + ">");
}

function LegacyStore() {
    return LegacyExtension.Templates;
}

function LegacyParse(sText) {
    return eval("(" + sText + ")");
}

function LegacyLogged(sEntry) {
    return LegacyContains(LegacyPageNow.log, sEntry);
}

function LegacyTraced(sPrefix) {
    for (var i = 0; i < LegacyTraces.length; i++) {
        if (LegacyTraces[i].substring(0, sPrefix.length) == sPrefix) {
            return true;
        }
    }
    return false;
}

/* A fresh page in sMode: its store text, globals, console and clock. */
function LegacyOpen(sMode, sStoreText, pSpecs, pOptions) {
    pOptions = pOptions || {};
    LegacyPageNow = new LegacyPage(sMode, pOptions.url || "http://intranet.example/login.aspx?x=1", "Sign in",
                                   pSpecs || LegacyLoginForm());
    window = LegacyPageNow.window;
    document = LegacyPageNow.document;
    window.VelnorIEExt = LegacyExtension;
    JSON = sMode == "IE7" ? undefined : LegacyEngineJson;
    LegacyJsonCalls = 0;
    LegacyTraces = [];
    LegacyErrors = [];
    console = pOptions.noConsole ? undefined : { log: function (sText) { LegacyTraces[LegacyTraces.length] = "" + sText; } };
    LegacyClock.now = 0;
    LegacyClock.queue = [];
    LegacyExtension.DebugTime = pOptions.debugTime === undefined ? 600 : pOptions.debugTime;
    if (pOptions.bound) {
        window.VelnorIEExt = LegacyBoundObject();
    } else {
        LegacyReplaceStore(sStoreText);
    }
    return LegacyPageNow;
}

/*
 * The page's window.VelnorIEExt as a browser's page has it: what the page writes reaches the
 * store through a binding to the page's address (page_write.exe), which stamps it with the
 * page's origin as the extension does; XPath finds the page's elements. The script host has no
 * properties that run code, so the page's writes are handed on after its script and each of its
 * timers (LegacySync).
 */
var LegacyBin = WScript.Arguments.length > 2 ? WScript.Arguments(2) : "";
var LegacyWork = WScript.Arguments.length > 3 ? WScript.Arguments(3) : "";
var LegacyPageWrites = [];
var LegacyRuns = 0;

function LegacyBoundObject() {
    var pObject = { Status: "ready", DebugTime: LegacyExtension.DebugTime, AuthCreds: "", Templates: LegacyExtension.Templates };
    pObject.GetElementByXPath = function (sExpression) {
        return LegacyPageNow.document.SelectXPath(sExpression);
    };
    pObject.handedOn = pObject.Templates;
    return pObject;
}

function LegacySync() {
    var pObject = window.VelnorIEExt;
    if (pObject === LegacyExtension || pObject.Templates === pObject.handedOn) {
        return;
    }
    pObject.handedOn = pObject.Templates;
    LegacyPageWrites[LegacyPageWrites.length] = pObject.Templates;
    var sFile = LegacyWork + "\\page" + (++LegacyRuns) + ".json";
    LegacyWriteFile(sFile, pObject.Templates);
    var nCode = LegacyShell.Run("\"" + LegacyBin + "\\page_write.exe\" \"" + window.location.href + "\" \"" + sFile + "\"", 0, true);
    if (nCode != 0) {
        LegacyErrors[LegacyErrors.length] = "the store did not take the page's write (" + nCode + ")";
    }
}

function LegacyWriteFile(sPath, sText) {
    var pFile = LegacyFso.CreateTextFile(sPath, true, false);
    pFile.Write(sText);
    pFile.Close();
}

/* The text of a file, or "" while it is missing or still open for writing. */
function LegacyReadFile(sPath) {
    try {
        var pFile = LegacyFso.OpenTextFile(sPath, 1);
        var sText = pFile.AtEndOfStream ? "" : pFile.ReadAll();
        pFile.Close();
        return sText;
    } catch (e) {
        return "";
    }
}

/* Starts the store tool with sArguments (and sInput on its standard input); LegacyToolEnd waits
   for it. The host cannot read a child's output, so a batch file puts it and the exit code into
   files. */
function LegacyToolStart(sArguments, sInput) {
    var sRun = LegacyWork + "\\tool" + (++LegacyRuns);
    var sLine = "@\"" + LegacyBin + "\\VelnorSSOStore.exe\" " + sArguments;
    if (sInput !== undefined) {
        LegacyWriteFile(sRun + ".in", sInput);
        sLine += " <\"" + sRun + ".in\"";
    }
    LegacyWriteFile(sRun + ".cmd", sLine + " >\"" + sRun + ".out\" 2>&1\r\n@>\"" + sRun + ".code\" echo %errorlevel%\r\n");
    LegacyShell.Run("cmd /c \"" + sRun + ".cmd\"", 0, false);
    return sRun;
}

/* Waits until fDone() holds or nMilliseconds have passed. Wine's script host has no
   WScript.Sleep: a process started and waited for is the pause. */
function LegacyWaitFor(fDone, nMilliseconds) {
    for (var nEnd = new Date().getTime() + nMilliseconds; !fDone() && new Date().getTime() < nEnd;) {
        LegacyShell.Run("cmd /c exit 0", 0, true);
    }
}

function LegacyToolEnd(sRun, nMilliseconds) {
    LegacyWaitFor(function () {
        return LegacyReadFile(sRun + ".code") != "";
    }, nMilliseconds);
    var sCode = LegacyReadFile(sRun + ".code").replace(/\s+/g, "");
    return { code: sCode == "" ? -1 : Number(sCode), out: LegacyReadFile(sRun + ".out").replace(/\r/g, "") };
}

function LegacyTool(sArguments, sInput) {
    return LegacyToolEnd(LegacyToolStart(sArguments, sInput), 60000);
}

/* The store replaced as a program of the session replaces it. Through the object, a write is a
   change to what the object read: what it read goes first, then the text is written whole. */
function LegacyReplaceStore(sText) {
    var sRead = LegacyExtension.Templates;
    LegacyExtension.Templates = "";
    LegacyExtension.Templates = sText;
}

function LegacyTemplate(pElements, pExtra) {
    var pTemplate = { url: "http://intranet.example/login.aspx*", elements: pElements };
    for (var sName in pExtra || {}) {
        pTemplate[sName] = pExtra[sName];
    }
    return pTemplate;
}

function ById(sValue) {
    return { type: "id", value: sValue };
}

/* The store text of a list of templates, written by the content script's own writer. */
function LegacyText(pTemplates) {
    return VelnorSSOJson.JsonValueText(pTemplates);
}

var LegacyModes = ["IE7", "IE8", "IE9"];
var LegacyCases = [];

function LegacyCase(sName, fOpen, fCheck, nRunFor) {
    LegacyCases[LegacyCases.length] = { name: sName, modes: LegacyModes,
                                        pages: [{ open: fOpen, check: fCheck, runFor: nRunFor || 30000 }] };
}

/* A case of several pages, one after the other, in some modes only: pPages [{ open, check, runFor }]. */
function LegacyPages(sName, pModes, pPages) {
    LegacyCases[LegacyCases.length] = { name: sName, modes: pModes, pages: pPages };
}

/* ---- the cases; each runs in every mode unless it says otherwise ---- */

LegacyCase("a login by id fills both fields, clicks and submits",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: ById("user"), actions: [{ type: "text", value: "alice" }] },
            { find: ById("pass"), actions: [{ type: "text", value: "p@ss w" }] },
            { find: ById("go"), actions: [{ type: "click" }] }])]));
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.document.ById("user").value, "alice", sMode + " user name typed");
        LegacyEqual(pPage.document.ById("pass").value, "p@ss w", sMode + " password typed");
        LegacyEqual(pPage.log.join(" "), "click:go submit:login", sMode + " clicked and submitted");
        LegacyEqual(LegacyStore(), "[]", sMode + " the template left the store");
        LegacyOk(sMode == "IE7" || LegacyJsonCalls >= 2, sMode + " the engine's JSON is used where there is one");
    });

LegacyCase("a login by name with a drop-down list and a check box",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: { type: "name", value: "user" }, actions: [{ type: "text", value: "bob" }] },
            { find: { type: "name", value: "country" }, actions: [{ type: "select", value: "Germany" }] },
            { find: { type: "name", value: "remember" }, actions: [{ type: "checkbox", selected: "true" }] },
            { find: { type: "name", value: "terms" }, actions: [{ type: "checkbox", selected: "false" }] },
            { find: ById("locked"), actions: [{ type: "click" }] },
            { find: ById("go"), actions: [{ type: "click" }] }])]));
    },
    function (sMode, pPage) {
        var pDocument = pPage.document;
        LegacyEqual(pDocument.ById("user").value, "bob", sMode + " typed by name");
        LegacyEqual(pDocument.ById("country").Chosen(), "de", sMode + " option chosen by its text");
        LegacyEqual(pDocument.ById("remember").checked, true, sMode + " box ticked");
        LegacyEqual(pDocument.ById("terms").checked, false, sMode + " box cleared");
        LegacyEqual(pPage.log.join(" "), "click:locked click:go submit:login", sMode + " disabled button enabled and clicked");
        LegacyEqual(LegacyStore(), "[]", sMode + " the template left the store");
    });

LegacyCase("class and selector finds, with each mode's own means",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([
            LegacyTemplate([{ find: { type: "selector", value: "form#login input[type=password]" },
                              actions: [{ type: "text", value: "by selector" }] }]),
            LegacyTemplate([{ find: { type: "class", value: "login-user  field" },
                              actions: [{ type: "text", value: "by class" }] },
                            { find: { type: "class", value: "note" }, actions: [{ type: "click" }] }])]));
    },
    function (sMode, pPage) {
        var pDocument = pPage.document;
        LegacyEqual(pDocument.ById("user").value, "by class", sMode + " class find (two classes, any order)");
        LegacyEqual(pPage.log.join(" "), "click:span", sMode + " the first element of a class");
        LegacyEqual(pDocument.ById("pass").value, sMode == "IE7" ? "" : "by selector", sMode + " selector find");
        LegacyOk(sMode != "IE7" || LegacyTraced("content -> FindWebElement: this document has no CSS selectors"),
                 sMode + " a selector without querySelector is traced");
        LegacyEqual(LegacyStore(), "[]", sMode + " both templates left the store (the failed one had no retries)");
        LegacyEqual(LegacyErrors.length, 0, sMode + " no script error");
    });

LegacyCase("events: dispatched in IE9 mode, fired before it, and a refused name does not stop the sign-on",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: ById("user"), actions: [{ type: "text", value: "u" }, { type: "sendEvent", event: "input" },
                                            { type: "sendEvent", event: "change" }] },
            { find: ById("go"), actions: [{ type: "click" }] }])]));
    },
    function (sMode, pPage) {
        var sExpected = sMode == "IE9" ? "input:user=u change:user=u click:go submit:login"
                                       : "change:user=u click:go submit:login";
        LegacyEqual(pPage.log.join(" "), sExpected, sMode + " events that reached the page");
        LegacyOk(sMode == "IE9" || LegacyTraced("content -> SendElementEvent: input not sent: Invalid argument."),
                 sMode + " the refused event is traced");
        LegacyEqual(LegacyStore(), "[]", sMode + " signed on");
    });

LegacyCase("typing events, a checkbox by click and a select with events, as each mode has them",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: ById("user"), actions: [{ type: "text", value: "u", events: true }] },
            { find: ById("remember"), actions: [{ type: "checkbox", selected: "true", byClick: true }] },
            { find: ById("terms"), actions: [{ type: "checkbox", selected: "true", byClick: true }] },
            { find: ById("country"), actions: [{ type: "select", value: "de", events: true }] },
            { find: ById("go"), actions: [{ type: "click" }] }])]));
    },
    function (sMode, pPage) {
        /* IE7 and IE8 modes have no input event: it is passed over and the sign-on goes on. */
        var sExpected = sMode == "IE9"
            ? "keydown:user=u keypress:user=u input:user=u keyup:user=u change:user=u click:remember " +
              "input:country=de change:country=de click:go submit:login"
            : "keydown:user=u keypress:user=u keyup:user=u change:user=u click:remember change:country=de " +
              "click:go submit:login";
        LegacyEqual(pPage.log.join(" "), sExpected, sMode + " the events that reached the page, in order");
        LegacyOk(pPage.document.ById("remember").checked && pPage.document.ById("terms").checked,
                 sMode + " the box was clicked once, the ticked one left alone");
        LegacyEqual(LegacyStore(), "[]", sMode + " signed on");
    });

LegacyCase("IE7's getElementById answers with a name first; the element with the id is used",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([{ find: ById("user"), actions: [{ type: "text", value: "right" }] }])]),
                   [{ tag: "a", name: "user" }, { tag: "input", id: "username", name: "x" }, { tag: "input", id: "user" }]);
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.document.ById("user").value, "right", sMode + " the element with the id");
        LegacyEqual(pPage.document.all[0].value, "", sMode + " not the named element");
    });

LegacyCase("a retry finds an element that appeared meanwhile; a delay resumes at the next action",
    function (sMode) {
        var pPage = LegacyOpen(sMode, LegacyText([
            LegacyTemplate([{ find: ById("late"), actions: [{ type: "text", value: "late" }] }],
                           { maxRetries: 5, retryInterval: 1 }),
            LegacyTemplate([{ find: ById("user"), actions: [{ type: "text", value: "u" }, { type: "delay", value: 500 },
                                                            { type: "click" }] }])]));
        setTimeout(function () {
            pPage.document.Add(pPage.document.ById("login"), { tag: "input", id: "late" });
            pPage.Record("appeared");
        }, 1500);
        setTimeout(function () {
            pPage.Record("at 600 ms");
        }, 600);
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.document.ById("late").value, "late", sMode + " the late field was filled");
        LegacyEqual(pPage.log.join(" "), "click:user at 600 ms appeared", sMode + " the click came after the delay");
        LegacyEqual(LegacyStore(), "[]", sMode + " both templates left the store");
    });

LegacyCase("a frame is searched after the page; an unreadable frame is passed over",
    function (sMode) {
        var pPage = LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: { type: "class", value: "inner" }, actions: [{ type: "text", value: "in frame" }] }])]));
        pPage.AddFrame(null);
        pPage.AddFrame([{ tag: "div", children: [{ tag: "input", id: "f1", "class": "inner" }] }]);
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.window.frames[1].document.ById("f1").value, "in frame", sMode + " found in the second frame");
        LegacyOk(LegacyTraced("FindWebElement() -> exception: "), sMode + " the unreadable frame is traced");
    });

LegacyCase("values with quotes, backslashes, control characters and non-ASCII survive the write-back",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([
            LegacyTemplate([]),
            { url: "https://other.example/\u00e9*", title: "Z\u00fcrich \u20ac \"q\" \\ \t\n\r\u0001\ud83d\ude00",
              note: "\u4e2d\u6587 '/' </script>", ID: 9, n: -1.5e-7, flag: false, nothing: null,
              elements: [{ find: ById("x"), actions: [{ type: "text", value: "\u00fc\"\\" }] }] }]));
    },
    function (sMode, pPage) {
        var pStored = LegacyParse(LegacyStore());
        LegacyEqual(pStored.length, 1, sMode + " one template left");
        var pOther = pStored[0];
        LegacyEqual(pOther.title, "Z\u00fcrich \u20ac \"q\" \\ \t\n\r\u0001\ud83d\ude00", sMode + " title");
        LegacyEqual(pOther.url, "https://other.example/\u00e9*", sMode + " url");
        LegacyEqual(pOther.note, "\u4e2d\u6587 '/' </script>", sMode + " an unknown field");
        LegacyEqual(pOther.elements[0].actions[0].value, "\u00fc\"\\", sMode + " a value");
        LegacyEqual(pOther.n, -1.5e-7, sMode + " a number");
        LegacyOk(pOther.flag === false && pOther.nothing === null, sMode + " literals");
        LegacyEqual(pOther.ID, 9, sMode + " written back before the pass reached it");
        LegacyOk(sMode != "IE7" || !/[^\x20-\x7e]/.test(LegacyStore()), sMode + " the script's own writer writes ASCII");
    });

LegacyCase("text that is not JSON leaves the store untouched",
    function (sMode) {
        LegacyOpen(sMode, "[{\"url\": \"http://intranet.example/*\", \"elements\": []},]");
    },
    function (sMode, pPage) {
        LegacyEqual(LegacyStore(), "[{\"url\": \"http://intranet.example/*\", \"elements\": []},]", sMode + " store unchanged");
        LegacyOk(LegacyTraced("content -> templates are not valid JSON: "), sMode + " traced");
    });

LegacyCase("a write-back the store refuses: the script completes and the store keeps its text",
    function (sMode) {
        /* 100,000 characters outside ASCII fit the store; the script's own writer spells each
           as six, which does not. */
        var sWide = new Array(100001).join("\u00e9");
        LegacyOpen(sMode, "[" + LegacyText(LegacyTemplate([])) + ",{\"url\":\"https://other.example/\",\"elements\":[]," +
                          "\"wide\":\"" + sWide + "\"}]");
        LegacyPageNow.stored = LegacyStore();
    },
    function (sMode, pPage) {
        LegacyEqual(LegacyStore() == pPage.stored, true, sMode + " the store keeps its text");
        LegacyOk(LegacyTraced("content -> UpdateGlobalTemplates: "), sMode + " the refusal is traced");
        LegacyEqual(LegacyTraces[LegacyTraces.length - 1], "content -> OnTemplatesLoaded: ", sMode + " the pass went on to its end");
    });

LegacyCase("a malformed entry with a stale ID stays; exactly the template that ran is dropped",
    function (sMode) {
        LegacyOpen(sMode, "[{\"elements\":[],\"ID\":2},{\"url\":\"http://intranet.example/*\",\"elements\":[]}]");
    },
    function (sMode, pPage) {
        var pStored = LegacyParse(LegacyStore());
        LegacyOk(pStored.length == 1 && pStored[0].url === undefined && pStored[0].ID == 2,
                 sMode + " the malformed entry is what stays", LegacyStore());
    });

LegacyCase("typed values never reach the console",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: ById("pass"), actions: [{ type: "text", value: "s3cr3t-pw" }] },
            { actions: [{ type: "httpBasicAuth", username: "u", password: "basic-pw" }] }])]));
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.document.ById("pass").value, "s3cr3t-pw", sMode + " typed");
        var sAll = LegacyTraces.join("\n");
        LegacyOk(sAll.indexOf("s3cr3t-pw") < 0 && sAll.indexOf("basic-pw") < 0, sMode + " no value in the traces");
        LegacyOk(LegacyTraced("content -> CheckTemplate: action def: [object Object][ text, *****]"), sMode + " masked");
    });

LegacyCase("an interval that is not a positive number counts as one second",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([
            LegacyTemplate([{ find: ById("missing") }], { maxRetries: -1, retryInterval: 0 }),
            LegacyTemplate([{ find: ById("missing") }], { maxRetries: -1, retryInterval: "soon" }),
            LegacyTemplate([{ find: ById("missing") }], { maxRetries: -1, retryInterval: 0.5 })]));
    },
    function (sMode, pPage) {
        var pChecks = [0, 0, 0, 0];
        for (var i = 0; i < LegacyTraces.length; i++) {
            var pMatch = /^content -> CheckTemplate: check template#(\d) /.exec(LegacyTraces[i]);
            if (pMatch) {
                pChecks[Number(pMatch[1])]++;
            }
        }
        LegacyEqual(pChecks[1], 11, sMode + " interval 0: checked at load and once a second for 10 s");
        LegacyEqual(pChecks[2], 11, sMode + " interval not a number: the same");
        LegacyEqual(pChecks[3], 21, sMode + " a fraction of a second stays as it is");
    }, 10000);

LegacyCase("no console with tracing on",
    function (sMode) {
        LegacyOpen(sMode, LegacyText([LegacyTemplate([{ find: ById("user"), actions: [{ type: "text", value: "quiet" }] }])]),
                   null, { noConsole: true });
    },
    function (sMode, pPage) {
        LegacyEqual(pPage.document.ById("user").value, "quiet", sMode + " signed on");
        LegacyEqual(LegacyStore(), "[]", sMode + " the template left the store");
    });

function LegacyNowSeconds() {
    return Math.floor(new Date().getTime() / 1000);
}

function LegacyOutcome() {
    var pStored = LegacyParse(LegacyStore());
    for (var i = 0; i < pStored.length; i++) {
        if (pStored[i].outcome !== undefined) {
            return pStored[i];
        }
    }
    return {};
}

LegacyCase("a template with verify leaves its outcome record, which the page's error settles as failed",
    function (sMode) {
        var pPage = LegacyOpen(sMode, LegacyText([LegacyTemplate([
            { find: ById("user"), actions: [{ type: "text", value: "alice" }] },
            { find: ById("pass"), actions: [{ type: "text", value: "wrong" }] },
            { find: ById("go"), actions: [{ type: "click" }] }],
            { launchId: "L7", name: "intranet", verify: { failure: [{ type: "text", value: "INVALID password" }] } })]));
        pPage.document.Add(null, { tag: "p", id: "error", text: "Invalid password.", hidden: true });
        /* The site answers in the page a second later. */
        setTimeout(function () {
            pPage.document.ById("error").Show(true);
        }, 1000);
    },
    function (sMode, pPage) {
        var pRecord = LegacyOutcome();
        LegacyEqual(pRecord.outcome, "failed", sMode + " settled by the error shown");
        LegacyEqual(pRecord.url, "http://intranet.example/*", sMode + " the record reaches the whole site");
        LegacyEqual(pRecord.attempt + " " + pRecord.name, "L7 intranet", sMode + " the launch it belongs to");
        LegacyEqual(pRecord.form.length + " " + pRecord.form[0].value, "1 pass", sMode + " the password field it typed into");
        LegacyOk(pRecord.elements === undefined && LegacyStore().indexOf("wrong") < 0, sMode + " no steps, no secret");
        LegacyEqual(pPage.log.join(" "), "click:go submit:login", sMode + " submitted once");
    });

LegacyCase("the next page of the site settles a submitted record: a success find, or the form again",
    function (sMode) {
        var sRecord = "{\"url\":\"http://intranet.example/*\",\"outcome\":\"submitted\",\"at\":" + LegacyNowSeconds() +
                      ",\"attempt\":\"A\",\"verify\":{\"success\":[{\"type\":\"id\",\"value\":\"welcome\"}]}," +
                      "\"form\":[{\"type\":\"id\",\"value\":\"pass\"}]}";
        var sElsewhere = sRecord.replace("intranet.example", "other.example").replace("\"A\"", "\"B\"");
        LegacyOpen(sMode, "[" + sRecord + "," + sElsewhere + "]", [{ tag: "h1", id: "welcome", text: "Welcome" }],
                   { url: "http://intranet.example/home" });
    },
    function (sMode, pPage) {
        var pStored = LegacyParse(LegacyStore());
        LegacyEqual(pStored[0].outcome, "succeeded", sMode + " this site's record");
        LegacyEqual(pStored[1].outcome, "submitted", sMode + " another site's record is not this page's to settle");
    });

LegacyCase("the login form shown again with an empty password field settles failed",
    function (sMode) {
        var sRecord = "{\"url\":\"http://intranet.example/*\",\"outcome\":\"submitted\",\"at\":" + LegacyNowSeconds() +
                      ",\"attempt\":\"A\",\"verify\":{},\"form\":[{\"type\":\"id\",\"value\":\"pass\"}]}";
        LegacyOpen(sMode, "[" + sRecord + "]");
    },
    function (sMode, pPage) {
        LegacyEqual(LegacyOutcome().outcome, "failed", sMode + " failed");
    });

/* A recorder record as the store tool writes it; the drafts the page writes beside it. */
function LegacyDrafts(sRecorder) {
    var pStored = LegacyParse(LegacyStore());
    var pDrafts = [];
    for (var i = 0; i < pStored.length; i++) {
        if (pStored[i].draft == sRecorder) {
            pDrafts[pDrafts.length] = pStored[i];
        }
    }
    return pDrafts;
}

function LegacyFindText(pFind) {
    return pFind ? pFind.type + " " + pFind.value : "none";
}

LegacyCase("a live recorder: the login form is drafted by its ids, once, and what was typed stays out",
    function (sMode) {
        var pPage = LegacyOpen(sMode, "[{\"recorder\":\"R1\",\"expires\":" + (LegacyNowSeconds() + 600) + "}]");
        pPage.document.ById("user").value = "typed-by-hand";
        pPage.document.ById("pass").value = "typed-secret";
    },
    function (sMode, pPage) {
        var pDrafts = LegacyDrafts("R1");
        LegacyEqual(pDrafts.length, 1, sMode + " one draft for the form, however often the page is looked at");
        var pDraft = pDrafts[0] || {};
        LegacyEqual(LegacyFindText(pDraft.user) + ", " + LegacyFindText(pDraft.password) + ", " + LegacyFindText(pDraft.submit),
                    "id user, id pass, id go", sMode + " by id");
        LegacyEqual(pDraft.url, "http://intranet.example/login.aspx*", sMode + " the page without its query");
        LegacyOk(LegacyStore().indexOf("typed") < 0, sMode + " nothing typed is in the store");
        LegacyOk(LegacyStore().indexOf("\"recorder\":\"R1\"") >= 0, sMode + " the recorder stays for the store tool");
    });

LegacyCase("generated ids and names: a selector where the mode has them, else an XPath from the root",
    function (sMode) {
        LegacyOpen(sMode, "[{\"recorder\":\"R2\",\"expires\":" + (LegacyNowSeconds() + 600) + "}]", [
            { tag: "div", id: "app-7f3e9a21c", children: [
                { tag: "form", id: "form-1a2b3c4d9e", children: [
                    { tag: "input", id: "input-8f3a2c91e", name: "field_172635", type: "email" },
                    { tag: "input", id: ":r3:", name: "pw_88213", type: "password" },
                    { tag: "button", id: "btn-551234", "class": "css-99ab12c primary" }] }] }]);
    },
    function (sMode, pPage) {
        var pDraft = LegacyDrafts("R2")[0] || {};
        var sFinds = LegacyFindText(pDraft.user) + ", " + LegacyFindText(pDraft.password) + ", " + LegacyFindText(pDraft.submit);
        LegacyEqual(sFinds, sMode == "IE7"
            ? "xpath /div[1]/form[1]/input[1], xpath /div[1]/form[1]/input[2], xpath /div[1]/form[1]/button[1]"
            : "selector input[type=\"email\"], selector input[type=\"password\"], selector button.primary", sMode + " locators");
    });

/* A portal whose login dialog opens on a click: a search form with a submit control like the
   login form's, and in the dialog a hidden default button, a list, a second text field, a
   one-time code field, a check box and a token the page fills itself. Nothing has an id but
   the button that opens the dialog; the login form only a class. */
function LegacyPortal() {
    return [
        { tag: "form", "class": "search", children: [
            { tag: "input", name: "q", type: "text" },
            { tag: "input", type: "submit", value: "Search", "class": "btn" }] },
        { tag: "button", id: "open", type: "button", text: "Log in" },
        { tag: "div", id: "dialog", hidden: true, children: [
            { tag: "form", "class": "login", hidden: true, children: [
                { tag: "button", type: "submit", "class": "btn", hidden: true },
                { tag: "select", name: "driver", hidden: true, options: [["server", "MySQL"], ["pgsql", "PostgreSQL"]] },
                { tag: "input", name: "server", type: "text", value: "localhost", hidden: true },
                { tag: "input", name: "user", type: "text", hidden: true },
                { tag: "input", name: "pass", type: "password", hidden: true },
                { tag: "input", name: "otp", type: "text", autocomplete: "one-time-code", hidden: true },
                { tag: "input", name: "permanent", type: "checkbox", value: "1", hidden: true },
                { tag: "input", name: "sectok", type: "hidden", value: "9f86d081884c7d659a2feaa0c55ad015", hidden: true },
                { tag: "input", type: "submit", value: "Log in", "class": "btn", hidden: true }] }] }];
}

var LEGACY_PORTAL = "http://intranet.example/portal/index.php?id=start&do=login&sectok=9f86d081884c7d659a2feaa0c55ad015";

function LegacyByName(pPage, sName) {
    return pPage.document.getElementsByName(sName)[0];
}

/* The user clicks "Log in" at nAt ms: the dialog opens, but for what a page never shows. */
function LegacyOpenDialogAt(pPage, nAt) {
    setTimeout(function () {
        pPage.document.ById("open").click();
        pPage.document.ShowAll(pPage.document.ById("dialog"), true);
        for (var i = 0; i < pPage.document.all.length; i++) {
            var pElement = pPage.document.all[i];
            if (pElement.type == "hidden" || (pElement.tagName == "BUTTON" && pElement.type == "submit")) {
                pElement.Show(false);
            }
        }
    }, nAt);
}

/* The steps of an entry as "find value: what it does". */
function LegacySteps(pEntry) {
    var pSteps = pEntry.template.elements;
    var pTexts = [];
    for (var i = 0; i < pSteps.length; i++) {
        var pAction = pSteps[i].actions[0];
        pTexts[pTexts.length] = pSteps[i].find.value + ": " + (pAction.valueFrom || pAction.value || pAction.selected || pAction.type);
    }
    return pTexts;
}

var LegacyRecorded = {};

LegacyPages("recorded on a portal's late login dialog, then signed on with the entry unchanged", ["IE7", "IE8"], [
    {
        open: function (sMode) {
            LegacyReplaceStore("");
            LegacyRecorded.catalog = LegacyWork + "\\catalog-" + sMode + ".json";
            LegacyRecorded.run = LegacyToolStart("record --name portal-" + sMode + " --origin http://intranet.example --yes " +
                                                 "--wait 60 --into \"" + LegacyRecorded.catalog + "\"");
            LegacyWaitFor(function () {
                return LegacyStore().indexOf("\"recorder\"") >= 0;
            }, 30000);
            LegacyRecorded.writes = LegacyPageWrites.length;
            var pPage = LegacyOpen(sMode, "", LegacyPortal(), { url: LEGACY_PORTAL + "#top", bound: true });
            LegacyOpenDialogAt(pPage, 3000);
            /* The administrator fills the form, the page marks the submit control while a field
               has focus, and the administrator sends it. */
            setTimeout(function () {
                LegacyByName(pPage, "driver").selectedIndex = 1;
                LegacyByName(pPage, "server").value = "db.example";
                LegacyByName(pPage, "user").value = "admin-typed";
                LegacyByName(pPage, "pass").value = "typed-secret";
                LegacyByName(pPage, "otp").value = "493817";
                LegacyByName(pPage, "permanent").checked = true;
                pPage.document.all[pPage.document.all.length - 1].className = "btn default";
                pPage.document.all[pPage.document.all.length - 1].click();
            }, 5000);
        },
        runFor: 8000,
        check: function (sMode, pPage) {
            var pResult = LegacyToolEnd(LegacyRecorded.run, 60000);
            LegacyOk(pResult.code == 0, sMode + " recorded", pResult.out);
            LegacyOk(pResult.out.indexOf("note: launch opens the login page without sectok of its address") >= 0,
                     sMode + " the one-time parameter is named", pResult.out);
            var pEntry = LegacyParse(LegacyReadFile(LegacyRecorded.catalog))[0];
            LegacyRecorded.entry = pEntry;
            LegacyEqual(pEntry.launch, "http://intranet.example/portal/index.php?id=start&do=login", sMode + " launched by its query");
            LegacyEqual(LegacySteps(pEntry).join(", "),
                        "driver: pgsql, server: db.example, user: username, permanent: true, pass: password, " +
                        (sMode == "IE7" ? "//form[.//input[@type='password']]//input[@type='submit']"
                                        : "form.login input[type=\"submit\"]") + ": click",
                        sMode + " the fields in the page's order, before the password; the submit control within its form");
            var sWritten = LegacyPageWrites.slice(LegacyRecorded.writes).join("\n");
            LegacyOk(sWritten.indexOf("\"sent\":true") > 0, sMode + " the page wrote its draft as sent");
            var pSecrets = ["admin-typed", "typed-secret", "493817", "9f86d081884c7d659a2feaa0c55ad015"];
            for (var i = 0; i < pSecrets.length; i++) {
                LegacyOk(sWritten.indexOf(pSecrets[i]) < 0, sMode + " no draft holds " + pSecrets[i]);
            }
            LegacyEqual(LegacyTool("cred set Velnor:portal-" + sMode + " alice", "pw-" + sMode + "\r\n").code, 0,
                        sMode + " credential set");
            var pLaunch = LegacyTool("launch portal-" + sMode + " --catalog \"" + LegacyRecorded.catalog + "\" --no-browser");
            LegacyOk(pLaunch.code == 0, sMode + " launched", pLaunch.out);
        }
    },
    {
        /* The user opens the dialog twelve seconds after the page loaded. */
        open: function (sMode) {
            LegacyOpenDialogAt(LegacyOpen(sMode, "", LegacyPortal(), { url: LegacyRecorded.entry.launch, bound: true }), 12000);
        },
        check: function (sMode, pPage) {
            LegacyEqual(pPage.log[0], "click:open", sMode + " nothing reached the dialog before it opened");
            LegacyEqual([LegacyByName(pPage, "driver").Chosen(), LegacyByName(pPage, "server").value, LegacyByName(pPage, "user").value,
                         LegacyByName(pPage, "pass").value, LegacyByName(pPage, "permanent").checked, LegacyByName(pPage, "otp").value].join(" "),
                        "pgsql db.example alice pw-" + sMode + " true ", sMode + " every field set as recorded");
            var sLog = pPage.log.join(" ");
            LegacyOk(/ submit:form$/.test(sLog) && sLog.indexOf("submit:") == sLog.lastIndexOf("submit:"),
                     sMode + " the login form sent once, at the end", sLog);
            LegacyTool("cred delete Velnor:portal-" + sMode);
            LegacyReplaceStore("");
        },
        runFor: 20000
    }]);

/* ---- the run ---- */

LegacyOk(LegacyExtension.Status == "ready", "the real extension object answers");
var LegacyShell = new ActiveXObject("WScript.Shell");
var LegacyArchitecture = LegacyShell.Environment("PROCESS")("PROCESSOR_ARCHITECTURE");
/* An in-process server always has the bitness of its host. */
LegacyEqual(LegacyArchitecture == "AMD64" ? "x64" : "x86", WScript.Arguments(1), "the build under test answered");
LegacyEqual(typeof JSON, "undefined", "the host's engine has no JSON of its own");

/* The content script's JSON writer, which the cases use, exists once it has run. */
LegacyOpen("IE7", "");
eval(LegacyContentScript);

for (var LegacyIndex = 0; LegacyIndex < LegacyCases.length * LegacyModes.length; LegacyIndex++) {
    var LegacyNow = LegacyCases[Math.floor(LegacyIndex / LegacyModes.length)];
    var LegacyMode = LegacyModes[LegacyIndex % LegacyModes.length];
    if (!LegacyContains(LegacyNow.modes, LegacyMode)) {
        continue;
    }
    WScript.Echo("# " + LegacyMode + ": " + LegacyNow.name);
    for (var LegacyPageIndex = 0; LegacyPageIndex < LegacyNow.pages.length; LegacyPageIndex++) {
        var LegacyPageCase = LegacyNow.pages[LegacyPageIndex];
        /* An error of the case itself would end the host's run without a word. */
        try {
            LegacyPageCase.open(LegacyMode);
        } catch (e) {
            LegacyOk(false, LegacyMode + " the page opened", e.message || e.number);
        }
        try {
            eval(LegacyContentScript);
        } catch (e) {
            LegacyErrors[LegacyErrors.length] = "content script: " + (e.message || e);
        }
        LegacySync();
        LegacyRunTimers(LegacyPageCase.runFor, LegacyErrors, LegacySync);
        try {
            LegacyPageCase.check(LegacyMode, LegacyPageNow);
        } catch (e) {
            LegacyErrors[LegacyErrors.length] = "the check: " + (e.message || e.number);
        }
        LegacyEqual(LegacyErrors.join("; "), "", LegacyMode + " no script error");
    }
}

/* The script's own JSON reader: strict, and never fooled into running code. */
var LegacyBadTexts = ["", " ", "[1,]", "{\"a\":1,}", "[01]", "[1.]", "[.5]", "['x']", "[\"\\x41\"]", "[\"\\u12\"]",
                      "[\"a\nb\"]", "{a:1}", "[NaN]", "[Infinity]", "[undefined]", "[true false]", "[] []", "[1",
                      "{\"a\" 1}", "[-]", "[1e]", "[+1]", "(function(){throw 1})()", "[\"\\ud83d\" + 1]", "nul",
                      "[" + new Array(600).join("[") + new Array(600).join("]") + "]"];
for (var LegacyBad = 0; LegacyBad < LegacyBadTexts.length; LegacyBad++) {
    var LegacyThrew = false;
    try {
        VelnorSSOJson.ParseJsonText(LegacyBadTexts[LegacyBad]);
    } catch (e) {
        LegacyThrew = true;
    }
    LegacyOk(LegacyThrew, "refused as JSON: " + LegacyBadTexts[LegacyBad].substring(0, 40).replace(/\n/g, "\\n"));
}
var LegacyGood = VelnorSSOJson.ParseJsonText(" {\"a\" : [1, -0.5e+2, 2E-1, 0, true, false, null, {}, []], \"\\u00e9\\/\\b\\f\\n\\r\\t\\\"\\\\\": \"\"}\r\n");
LegacyEqual(VelnorSSOJson.JsonValueText(LegacyGood), "{\"a\":[1,-50,0.2,0,true,false,null,{},[]],\"\\u00e9/\\u0008\\u000c\\n\\r\\t\\\"\\\\\":\"\"}",
            "every form of JSON is read");

/* The check that lets text through to eval, in this engine: it passes no text the reader
   refuses, and eval reads checked text to the reader's values. */
function LegacyRandom(nSeed) {
    var nState = nSeed;
    return function (n) {
        nState = (nState * 69069 + 1) % 4294967296;
        return Math.floor(nState / 65536) % n;
    };
}

var LegacyPool = ["a", "Z", " ", "\"", "\\", "/", "\n", "\t", "\u0001", "\u007f", "\u00e9", "\u20ac", "\ud83d",
                  "\ude00", "\u2028", "\u2029", "\ufeff", "\u00a0", "*", "'", "__proto__"];
var LegacyNumbers = ["0", "-0", "1", "-1.5e-7", "3.25", "1e21", "0.1", "1.7976931348623157e308", "5e-324",
                     "2.2250738585072014e-308", "1e400", "123.456e-5", "9007199254740993", "0.30000000000000004",
                     "1E+2", "-2147483648"];

/* JSON text with everything but quotes, backslashes and control characters written as it is. */
function LegacyRawString(fNext) {
    var sText = "";
    for (var n = fNext(8); n > 0; n--) {
        var c = LegacyPool[fNext(LegacyPool.length)];
        sText += c == "\"" ? "\\\"" : c == "\\" ? "\\\\" : c == "\n" ? "\\n" : c == "\t" ? "\\t" :
                 c == "\u0001" ? "\\u0001" : c;
    }
    return "\"" + sText + "\"";
}

function LegacyRawValue(fNext, nDepth) {
    var pParts = [];
    var n;
    switch (fNext(nDepth > 3 ? 4 : 6)) {
        case 0: return LegacyRawString(fNext);
        case 1: return LegacyNumbers[fNext(LegacyNumbers.length)];
        case 2: return ["true", "false", "null"][fNext(3)];
        case 3: return LegacyRawString(fNext);
        case 4:
            for (n = fNext(4); n > 0; n--) {
                pParts[pParts.length] = LegacyRawValue(fNext, nDepth + 1);
            }
            return "[" + pParts.join(fNext(2) ? "," : " ,\r\n ") + "]";
        default:
            for (n = fNext(4); n > 0; n--) {
                pParts[pParts.length] = LegacyRawString(fNext) + ":" + LegacyRawValue(fNext, nDepth + 1);
            }
            return "{" + pParts.join(",") + "}";
    }
}

/* "refused" or the text of the value as the script's writer writes it (one text per value). */
function LegacyReadAs(fRead, sText) {
    try {
        return "value " + VelnorSSOJson.JsonValueText(fRead(sText));
    } catch (e) {
        return "refused";
    }
}

var LegacyEdits = ["[", "]", "{", "}", ",", ":", "\"", "\\", "0", "-", ".", "e", " ", "t", "\n", "\t", "\u000b",
                   "\u00a0", "\ufeff", "\u2028", "\u2029", "\u0001", "\u0002", "\\u2028", "\"__proto__\":", ")", "/*"];
var LegacyNext = LegacyRandom(5);
var LegacyMismatch = "";
var LegacyChecked = 0;
var LegacyRefused = 0;
for (var LegacyRound = 0; LegacyRound < 1500 && LegacyMismatch == ""; LegacyRound++) {
    var LegacyRaw = LegacyRawValue(LegacyNext, 0);
    for (var LegacyEdit = LegacyNext(3); LegacyEdit > 0; LegacyEdit--) {
        var LegacyAt = LegacyNext(LegacyRaw.length + 1);
        var LegacyPiece = LegacyEdits[LegacyNext(LegacyEdits.length)];
        LegacyRaw = LegacyRaw.substring(0, LegacyAt) + LegacyPiece + LegacyRaw.substring(LegacyAt + LegacyNext(2));
    }
    var LegacyByReader = LegacyReadAs(VelnorSSOJson.ReadJsonText, LegacyRaw);
    var LegacyByScript = LegacyReadAs(VelnorSSOJson.ParseJsonText, LegacyRaw);
    var LegacyWasChecked = VelnorSSOJson.IsJsonText(LegacyRaw);
    if (LegacyWasChecked) {
        LegacyChecked++;
    }
    if (LegacyByReader == "refused") {
        LegacyRefused++;
    }
    if (LegacyByScript != LegacyByReader || (LegacyWasChecked && LegacyByReader == "refused")) {
        LegacyMismatch = LegacyRaw + " -- reader: " + LegacyByReader + ", script: " + LegacyByScript + ", checked: " + LegacyWasChecked;
    }
}
LegacyOk(LegacyMismatch == "", "generated and edited texts: the check and eval agree with the reader", LegacyMismatch);
LegacyOk(LegacyChecked > 500 && LegacyRefused > 200, "the texts went both ways",
         LegacyChecked + " checked, " + LegacyRefused + " refused");

var LegacyNumbersRead = VelnorSSOJson.ParseJsonText("[" + LegacyNumbers.join(",") + "]");
var LegacyNumbersReader = VelnorSSOJson.ReadJsonText("[" + LegacyNumbers.join(",") + "]");
var LegacyNumbersDiffer = "";
for (var LegacyNumber = 0; LegacyNumber < LegacyNumbers.length; LegacyNumber++) {
    var LegacyA = LegacyNumbersRead[LegacyNumber];
    var LegacyB = LegacyNumbersReader[LegacyNumber];
    if (LegacyA !== LegacyB || 1 / LegacyA !== 1 / LegacyB) {
        LegacyNumbersDiffer += " " + LegacyNumbers[LegacyNumber] + ": " + LegacyA + " against " + LegacyB;
    }
}
LegacyOk(LegacyNumbersDiffer == "", "eval reads every number as the reader does (-0 too)", LegacyNumbersDiffer);

function LegacyNest(nDepth, sInner) {
    return new Array(nDepth + 1).join("[") + sInner + new Array(nDepth + 1).join("]");
}
var LegacyDepths = [[LegacyNest(513, ""), true], [LegacyNest(514, ""), false], [LegacyNest(512, "1"), true],
                    [LegacyNest(513, "1"), false]];
for (var LegacyDepth = 0; LegacyDepth < LegacyDepths.length; LegacyDepth++) {
    var LegacyDeepText = LegacyDepths[LegacyDepth][0];
    LegacyEqual(VelnorSSOJson.IsJsonText(LegacyDeepText), LegacyDepths[LegacyDepth][1],
                "the check's depth limit is the reader's: " + LegacyDeepText.length + " characters");
    LegacyEqual(LegacyReadAs(VelnorSSOJson.ParseJsonText, LegacyDeepText), LegacyReadAs(VelnorSSOJson.ReadJsonText, LegacyDeepText),
                "read the same: " + LegacyDeepText.length + " characters");
}
LegacyEqual(VelnorSSOJson.ParseJsonText("[\"a\u2028b\u2029\"]")[0], "a\u2028b\u2029", "line separators in a string");

LegacyExtension.DebugTime = 0;
LegacyReplaceStore("");
WScript.Echo("legacy suite finished: " + LegacyPassed + " passed, " + LegacyFailed + " failed");
