/*
 * Velnor SSO content script.
 *
 * Runs in the top-level window of every completed page, in the page's own script engine,
 * right after the extension has published itself as window.VelnorIEExt. It reads the SSO
 * templates from the template store, hands the HTTP Basic credentials of all templates to the
 * extension, and signs on to the page: for each template whose url and title patterns match,
 * it finds the template's elements (in the page and its frames) and carries out their actions,
 * waits where a "delay" asks for it, retries a failed template on a timer and drops a template
 * from the store once it has run or has no retries left. A template that asks for it
 * ("verify") is replaced by a record of its outcome, which the next pages of the site settle:
 * whether the site took the password. While an administrator records a sign-on, every page
 * that shows a login form writes a draft of where its fields are and, once the form is sent,
 * what its fields beside user name and password held; never a user name or a password.
 *
 * Written for Internet Explorer's page script engines: ECMAScript 3 syntax, nothing later, and
 * only what every document mode offers. Compatibility View (the default for intranet sites)
 * gives a page the IE7 document mode: no JSON, no querySelector, no getElementsByClassName, no
 * createEvent, and a getElementById that also answers with elements whose name matches. IE8
 * mode adds JSON and querySelector. Where a built-in is missing the script uses its own code.
 * Single-byte ASCII text only (the extension widens it with the ANSI code page).
 *
 * The script always completes: the extension runs it again every second until it does, so a
 * script error here would repeat forever. Text that is not JSON, a malformed template or an
 * action that throws is traced and passed over; the other templates still run.
 *
 * It shares the page's global names. Only the two globals of its run state and the functions
 * the extension's pages know it by are global; every helper lives in the closure below, so a
 * page's own "FindById" or "ErrorText" stays the page's, and page script that replaces a
 * global between two of the script's timer callbacks cannot change what the script does. The
 * sections follow the order in which a page runs them.
 */

/* ==== Globals and tracing ==== */

var LogEnabledTime = 0;
var VelnorSSOTemplates = [];
/* Declared here so that every engine has them as script globals before the closure assigns
   them (in IE before version 9 a name that is only assigned can collide with an element id). */
var trace, UpdateGlobalTemplates, SendElementEvent, FindWebElement, PerformAction, RemoveTemplate,
    CompareMaskedString, OnDeferCheckTemplate, CheckTemplate, OnTemplatesLoaded;
var VelnorSSOJson;

(function (pPage) {

/* The closure calls its own functions, never the globals: what a page puts under these names
   later is the page's business. */
pPage.trace = trace;
pPage.UpdateGlobalTemplates = UpdateGlobalTemplates;
pPage.SendElementEvent = SendElementEvent;
pPage.FindWebElement = FindWebElement;
pPage.PerformAction = PerformAction;
pPage.RemoveTemplate = RemoveTemplate;
pPage.CompareMaskedString = CompareMaskedString;
pPage.OnDeferCheckTemplate = OnDeferCheckTemplate;
pPage.CheckTemplate = CheckTemplate;
pPage.OnTemplatesLoaded = OnTemplatesLoaded;

function trace(sText) {
    if (LogEnabledTime && typeof console != "undefined" && console && console.log) {
        console.log(sText);
    }
}

function ErrorText(e) {
    if (e && e.message) {
        return e.message;
    }
    return "" + e;
}

/* ==== Start ==== */

function ParseJson(sText) {
    if (HasNativeJson()) {
        return JSON.parse(sText);
    }
    return ParseJsonText("" + sText);
}

/* Names whose members make the text of a template run page code: toString and valueOf, spelled
   out or with an escape. */
var PAGE_CODE_NAMES = /toString|valueOf|\\u/;

function StartVelnorSSO() {
    LogEnabledTime = window.VelnorIEExt.DebugTime;
    WatchUnload();
    trace("content -> loaded: " + window.location.href + ", " + document.title);
    if (!String.prototype.startsWith) {
        String.prototype.startsWith = function (searchString, position) {
            position = position || 0;
            return this.indexOf(searchString, position) === position;
        };
    }
    var sText = window.VelnorIEExt.Templates;
    var fPlainText = true;
    VelnorSSOTemplates = [];
    if (sText != null && sText != "") {
        try {
            VelnorSSOTemplates = ParseJson(sText);
        } catch (e) {
            /* Nothing is checked and nothing is written: the store keeps its text. */
            trace("content -> templates are not valid JSON: " + ErrorText(e));
            return;
        }
        /* An escape can spell either name too. One pass of a regular expression over the text
           costs a third of three searches for the names. */
        fPlainText = !PAGE_CODE_NAMES.test("" + sText);
    }
    RunLoadPass(VelnorSSOTemplates, fPlainText);
}

/* ==== JSON text: the reader for pages without JSON, and the writer ==== */

/*
 * Any page can write the store, so its text reaches eval only once it is known to be JSON as
 * the reader below (ReadJsonText) reads it: the same grammar, the same refusals (control
 * characters in strings, white space other than JSON's four, nesting deeper than
 * JSON_MAX_DEPTH). The check is a handful of regular-expression passes over the whole text,
 * where the reader makes several function calls a character, which cost microseconds each in
 * the engines this is for. Whatever the check does not pass goes to the reader, which refuses it
 * with the place of the fault (or, for text the check gives up on, reads it).
 */
var JSON_MAX_DEPTH = 512;   /* deeper text is refused instead of exhausting the stack */
var JSON_CONTROL = /[\x00-\x1f]/;

/* Strings become \x01 and other values \x02; such characters can stand in no JSON text, so text
   that has any is left to the reader. */
var JSON_CHECK_CLASH = /[\x00-\x08\x0b\x0c\x0e-\x1f]/;
var JSON_CHECK_STRING = /"[^"\\\x00-\x1f]*(?:\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})[^"\\\x00-\x1f]*)*"/g;
var JSON_CHECK_SCALAR = /-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+\-]?[0-9]+)?|true|false|null/g;
var JSON_CHECK_SPACE = /[ \t\n\r]+/g;
var JSON_CHECK_EMPTY = /\[\]|\{\}/g;
var JSON_CHECK_INNERMOST = /\[[\x01\x02](?:,[\x01\x02])*\]|\{\x01:[\x01\x02](?:,\x01:[\x01\x02])*\}/g;
/* Line terminators to eval, not to JSON: escaped before eval sees them. */
var JSON_LINE_SEPARATOR = /[\u2028\u2029]/;

/* Whether the reader would read sText without refusing it. False also where the check gives
   up (text nested deeply enough to cost many passes), which leaves the text to the reader. */
function IsJsonText(sText) {
    if (JSON_CHECK_CLASH.test(sText)) {
        return false;
    }
    /* A global replace takes the leftmost match each time, so the strings found are exactly
       those a reader going left to right finds; a quote left over means a string that is not
       JSON, and fails below with everything else that is left over. */
    var sRest = sText.replace(JSON_CHECK_STRING, "\x01").replace(JSON_CHECK_SCALAR, "\x02");
    /* Only now: white space also keeps apart tokens that would read as one ("1 2"). */
    sRest = sRest.replace(JSON_CHECK_SPACE, "").replace(JSON_CHECK_EMPTY, "\x02");
    /* Each pass turns every container whose members are all single values into one value, so
       the passes count the nesting: a value at depth JSON_MAX_DEPTH (an empty container there,
       or a scalar in a container at depth JSON_MAX_DEPTH - 1) needs JSON_MAX_DEPTH passes. */
    var nBudget = 8 * sRest.length + 1048576;
    var nPasses = 0;
    var sNext;
    while (sRest.length > 1) {
        if (nPasses == JSON_MAX_DEPTH) {
            return false;
        }
        sNext = sRest.replace(JSON_CHECK_INNERMOST, "\x02");
        nBudget -= sRest.length;
        if (sNext.length == sRest.length || nBudget < 0) {
            return false;
        }
        sRest = sNext;
        nPasses++;
    }
    return sRest == "\x01" || sRest == "\x02";
}

function EvalJsonText(sText) {
    if (JSON_LINE_SEPARATOR.test(sText)) {
        sText = sText.replace(/\u2028/g, "\\u2028").replace(/\u2029/g, "\\u2029");
    }
    return eval("(" + sText + ")");
}

function ParseJsonText(sText) {
    if (IsJsonText(sText)) {
        try {
            return EvalJsonText(sText);
        } catch (e) {
            /* Not expected of checked text; should an engine's eval differ, the reader decides. */
        }
    }
    return ReadJsonText(sText);
}

/* The reader, exact and slow: text the check did not pass, and the place of its fault. */
function ReadJsonText(sText) {
    var nAt = 0;
    var nLength = sText.length;

    function Fail(sWhat) {
        throw new Error("not valid JSON: " + sWhat + " at position " + nAt);
    }

    /* Called only where white space stands: JSON written by programs rarely has any, and a
       call costs more than the test in the engines this is for. */
    function SkipSpace() {
        var c;
        while (nAt < nLength) {
            c = sText.charCodeAt(nAt);
            if (c != 32 && c != 9 && c != 10 && c != 13) {
                return;
            }
            nAt++;
        }
    }

    function Word(sWord, pValue) {
        if (sText.substring(nAt, nAt + sWord.length) != sWord) {
            Fail("unexpected character");
        }
        nAt += sWord.length;
        return pValue;
    }

    function Digits() {
        var nStart = nAt;
        var c;
        while (nAt < nLength) {
            c = sText.charCodeAt(nAt);
            if (c < 48 || c > 57) {
                break;
            }
            nAt++;
        }
        if (nAt == nStart) {
            Fail("digit expected");
        }
    }

    function NumberValue() {
        var nStart = nAt;
        if (sText.charAt(nAt) == "-") {
            nAt++;
        }
        if (sText.charAt(nAt) == "0") {
            nAt++;
        } else {
            Digits();
        }
        if (sText.charAt(nAt) == ".") {
            nAt++;
            Digits();
        }
        if (sText.charAt(nAt) == "e" || sText.charAt(nAt) == "E") {
            nAt++;
            if (sText.charAt(nAt) == "+" || sText.charAt(nAt) == "-") {
                nAt++;
            }
            Digits();
        }
        /* parseFloat, not Number: some JScript engines give NaN for Number("1.5e-7"). Some lose
           the sign of "-0", which JSON keeps. */
        var nValue = parseFloat(sText.substring(nStart, nAt));
        return nValue == 0 && sText.charAt(nStart) == "-" ? -0 : nValue;
    }

    /* Where the next backslash is, found once and kept: looking for it from every string
       would scan the rest of the text again each time. */
    var nNextEscape = -2;

    function StringValue() {
        var sOut = "";
        var nQuote, sRun, c, sHex;
        nAt++;   /* the opening quote */
        for (;;) {
            /* Runs without escapes are copied whole: much cheaper than one character at a time. */
            nQuote = sText.indexOf("\"", nAt);
            if (nQuote < 0) {
                Fail("unterminated string");
            }
            if (nNextEscape != -1 && nNextEscape < nAt) {
                nNextEscape = sText.indexOf("\\", nAt);
            }
            if (nNextEscape < 0 || nNextEscape > nQuote) {
                sRun = sText.substring(nAt, nQuote);
                if (JSON_CONTROL.test(sRun)) {
                    Fail("control character in string");
                }
                nAt = nQuote + 1;
                return sOut + sRun;
            }
            sRun = sText.substring(nAt, nNextEscape);
            if (JSON_CONTROL.test(sRun)) {
                Fail("control character in string");
            }
            sOut += sRun;
            nAt = nNextEscape;
            c = sText.charAt(nAt + 1);
            nAt += 2;
            switch (c) {
                case "\"": sOut += "\""; break;
                case "\\": sOut += "\\"; break;
                case "/": sOut += "/"; break;
                case "b": sOut += "\b"; break;
                case "f": sOut += "\f"; break;
                case "n": sOut += "\n"; break;
                case "r": sOut += "\r"; break;
                case "t": sOut += "\t"; break;
                case "u":
                    sHex = sText.substring(nAt, nAt + 4);
                    if (!/^[0-9a-fA-F]{4}$/.test(sHex)) {
                        Fail("bad unicode escape");
                    }
                    sOut += String.fromCharCode(parseInt(sHex, 16));
                    nAt += 4;
                    break;
                default:
                    nAt -= 2;
                    Fail("bad escape");
            }
        }
    }

    /* After a member or an element: true at the closing sClose, false past a comma. */
    function ClosedOrComma(sClose) {
        var c;
        if (sText.charCodeAt(nAt) <= 32) {
            SkipSpace();
        }
        c = sText.charAt(nAt++);
        if (c == sClose) {
            return true;
        }
        if (c != ",") {
            nAt--;
            Fail("comma or " + sClose + " expected");
        }
        return false;
    }

    function Value(nDepth) {
        var c, pArray, pObject, sKey;
        if (nDepth > JSON_MAX_DEPTH) {
            Fail("nested too deeply");
        }
        if (sText.charCodeAt(nAt) <= 32) {
            SkipSpace();
        }
        c = sText.charAt(nAt);
        if (c == "{") {
            nAt++;
            pObject = {};
            if (sText.charCodeAt(nAt) <= 32) {
                SkipSpace();
            }
            if (sText.charAt(nAt) == "}") {
                nAt++;
                return pObject;
            }
            for (;;) {
                if (sText.charCodeAt(nAt) <= 32) {
                    SkipSpace();
                }
                if (sText.charAt(nAt) != "\"") {
                    Fail("name expected");
                }
                sKey = StringValue();
                if (sText.charCodeAt(nAt) <= 32) {
                    SkipSpace();
                }
                if (sText.charAt(nAt) != ":") {
                    Fail("colon expected");
                }
                nAt++;
                pObject[sKey] = Value(nDepth + 1);
                if (ClosedOrComma("}")) {
                    return pObject;
                }
            }
        }
        if (c == "[") {
            nAt++;
            pArray = [];
            if (sText.charCodeAt(nAt) <= 32) {
                SkipSpace();
            }
            if (sText.charAt(nAt) == "]") {
                nAt++;
                return pArray;
            }
            for (;;) {
                pArray[pArray.length] = Value(nDepth + 1);
                if (ClosedOrComma("]")) {
                    return pArray;
                }
            }
        }
        if (c == "\"") {
            return StringValue();
        }
        if (c == "-" || (c >= "0" && c <= "9")) {
            return NumberValue();
        }
        if (c == "t") {
            return Word("true", true);
        }
        if (c == "f") {
            return Word("false", false);
        }
        if (c == "n") {
            return Word("null", null);
        }
        Fail(nAt < nLength ? "unexpected character" : "unexpected end");
    }

    var pResult = Value(0);
    if (sText.charCodeAt(nAt) <= 32) {
        SkipSpace();
    }
    if (nAt < nLength) {
        Fail("text after the value");
    }
    return pResult;
}

/* Where the engine has JSON, JSON is used; the script's own writer and reader stand in for it
   in IE7 mode. */
function HasNativeJson() {
    return typeof JSON != "undefined" && JSON != null && typeof JSON.parse == "function" &&
           typeof JSON.stringify == "function";
}

function StringifyJson(pValue) {
    if (HasNativeJson()) {
        return JSON.stringify(pValue);
    }
    return JsonValueText(pValue);
}

/* The script's own writer escapes quotes, backslashes, control characters and everything
   outside ASCII, so that its text reads back to the same values. */
/* Everything but printable ASCII, and the quote and the backslash. */
var JSON_TO_ESCAPE = /[^\x20\x21\x23-\x5b\x5d-\x7e]/;
var JSON_TO_ESCAPE_ALL = /[^\x20\x21\x23-\x5b\x5d-\x7e]/g;

function JsonEscape(c) {
    switch (c) {
        case "\"": return "\\\"";
        case "\\": return "\\\\";
        case "\n": return "\\n";
        case "\r": return "\\r";
        case "\t": return "\\t";
        default:
            var sHex = "000" + c.charCodeAt(0).toString(16);
            return "\\u" + sHex.substring(sHex.length - 4);
    }
}

function JsonStringText(sText) {
    if (!JSON_TO_ESCAPE.test(sText)) {
        return "\"" + sText + "\"";
    }
    return "\"" + sText.replace(JSON_TO_ESCAPE_ALL, JsonEscape) + "\"";
}

/* Old JScript engines leave an object's own properties out of for-in when the prototype has a
   property of that name that for-in skips (toString and the like); such names are then looked
   for one by one. Engines without that fault are not asked. */
var JSON_HIDDEN_NAMES = ["toString", "toLocaleString", "valueOf", "hasOwnProperty", "isPrototypeOf",
                         "propertyIsEnumerable", "constructor"];
var JSON_HIDES_NAMES = JsonHidesNames();

function JsonHidesNames() {
    for (var sName in { toString: 1 }) {
        return false;
    }
    return true;
}

function OwnNames(pObject) {
    var pNames = [];
    var pOwn = Object.prototype.hasOwnProperty;
    var sName, i;
    for (sName in pObject) {
        if (pOwn.call(pObject, sName)) {
            pNames[pNames.length] = sName;
        }
    }
    for (i = 0; JSON_HIDES_NAMES && i < JSON_HIDDEN_NAMES.length; i++) {
        sName = JSON_HIDDEN_NAMES[i];
        if (pOwn.call(pObject, sName)) {
            pNames[pNames.length] = sName;
        }
    }
    return pNames;
}

/* As JSON.stringify: undefined and functions are left out of objects and are null in arrays;
   numbers that are not finite are null. Returns undefined for a value that has no text. */
function JsonValueText(pValue) {
    var sType = typeof pValue;
    var pParts, pNames, sItem, i;
    if (pValue === null) {
        return "null";
    }
    if (sType == "undefined" || sType == "function") {
        return undefined;
    }
    if (sType == "object" && typeof pValue.toJSON == "function") {
        pValue = pValue.toJSON();
        sType = typeof pValue;
        if (pValue === null) {
            return "null";
        }
    }
    if (sType == "object" && (pValue instanceof String || pValue instanceof Number || pValue instanceof Boolean)) {
        pValue = pValue.valueOf();
        sType = typeof pValue;
    }
    if (sType == "string") {
        return JsonStringText(pValue);
    }
    if (sType == "number") {
        return isFinite(pValue) ? "" + pValue : "null";
    }
    if (sType == "boolean") {
        return pValue ? "true" : "false";
    }
    if (sType != "object") {
        return undefined;
    }
    pParts = [];
    if (Object.prototype.toString.call(pValue) == "[object Array]") {
        for (i = 0; i < pValue.length; i++) {
            sItem = JsonValueText(pValue[i]);
            pParts[pParts.length] = sItem === undefined ? "null" : sItem;
        }
        return "[" + pParts.join(",") + "]";
    }
    pNames = OwnNames(pValue);
    for (i = 0; i < pNames.length; i++) {
        sItem = JsonValueText(pValue[pNames[i]]);
        if (sItem !== undefined) {
            pParts[pParts.length] = JsonStringText(pNames[i]) + ":" + sItem;
        }
    }
    return "{" + pParts.join(",") + "}";
}

/* ==== Load pass ==== */

/* Whether the load pass can work on a template at all: an object with a url and an array of
   element steps, each an object whose actions (when it has them) are an array of objects.
   Anything else is passed over and left in the store as it is. */
function IsWellFormedTemplate(pTemplate) {
    if (!pTemplate || typeof pTemplate != "object" || pTemplate.url == undefined) {
        return false;
    }
    var pSteps = pTemplate.elements;
    if (!pSteps || Object.prototype.toString.call(pSteps) != "[object Array]") {
        return false;
    }
    for (var i = 0; i < pSteps.length; i++) {
        var pStep = pSteps[i];
        if (!pStep || typeof pStep != "object") {
            return false;
        }
        if (pStep.actions == undefined) {
            continue;
        }
        if (Object.prototype.toString.call(pStep.actions) != "[object Array]") {
            return false;
        }
        for (var j = 0; j < pStep.actions.length; j++) {
            if (!pStep.actions[j] || typeof pStep.actions[j] != "object") {
                return false;
            }
        }
    }
    return true;
}

function OnTemplatesLoaded(pTemplates) {
    RunLoadPass(pTemplates, false);
}

/* OnTemplatesLoaded for the store's own text. fPlainText: the text has no member named
   toString or valueOf, so the text of the whole array ("[object Object]" for each template)
   cannot throw, and need not be built while tracing is off; where it can throw, it still ends
   the pass before any check, as it always has. */
function RunLoadPass(pTemplates, fPlainText) {
    if (LogEnabledTime || !fPlainText) {
        trace("content -> OnTemplatesLoaded: " + pTemplates);
    }
    if (!pTemplates) {
        return;
    }
    var sCreds = "";
    /* The trace shows the records with their passwords masked. */
    var sTracedCreds = "";
    trace("content -> OnTemplatesLoaded: templates count = " + pTemplates.length);
    var i = 0;
    /* The page's URL while every check since it was read stopped at its url (RunCheck). */
    var sPageUrl = null;
    /* Records (outcomes, the recorder, drafts) have no steps: met here, acted on after the pass. */
    var pRecords = [];
    while (i < pTemplates.length) {
        var pTemplate = pTemplates[i];
        if (!IsWellFormedTemplate(pTemplate)) {
            if (IsRecord(pTemplate, "outcome") || IsRecord(pTemplate, "recorder")) {
                pRecords[pRecords.length] = pTemplate;
            } else if (!IsRecord(pTemplate, "draft")) {
                trace("content -> OnTemplatesLoaded: template " + (i + 1) + " is malformed, passed over");
            }
            i++;
            continue;
        }
        /* A launched sign-on carries "expires" (seconds since 1970 UTC): once past, it is dropped
           unused, before its Basic credentials are collected, so a password nobody used does
           not wait in the store for the next page. */
        if (typeof pTemplate.expires == "number" && pTemplate.expires * 1000 <= new Date().getTime()) {
            trace("content -> OnTemplatesLoaded: template " + (i + 1) + " expired, dropped");
            pTemplates.splice(i, 1);
            UpdateGlobalTemplates();
            sPageUrl = null;
            continue;
        }
        pTemplate.ID = i + 1;
        for (var s = 0; s < pTemplate.elements.length; s++) {
            var pActions = pTemplate.elements[s].actions;
            for (var a = 0; pActions && a < pActions.length; a++) {
                if (pActions[a].type == "httpBasicAuth") {
                    /* The text of a user name or password that is an object may run page code. */
                    sPageUrl = null;
                    if (sCreds != "") {
                        sCreds += "\n";
                        sTracedCreds += "\n";
                    }
                    sCreds += pTemplate.url + "\r" + pActions[a].username + "\r" + pActions[a].password;
                    sTracedCreds += pTemplate.url + "\r" + pActions[a].username + "\r" + "*****";
                }
            }
        }
        var sOutcome = "kept";
        try {
            sOutcome = RunCheck(pTemplate, sPageUrl);
            if (sPageUrl === null && sOutcome == "unmatched") {
                sPageUrl = window.location.href;
            }
        } catch (e) {
            trace("content -> OnTemplatesLoaded: template " + pTemplate.ID + " failed: " + ErrorText(e));
        }
        if (sOutcome != "unmatched") {
            sPageUrl = null;
        }
        if (sOutcome != "dropped") {
            i++;
        }
    }
    trace("content -> OnTemplatesLoaded: " + sTracedCreds);
    if (sCreds != "") {
        window.VelnorIEExt.AuthCreds = sCreds;
    }
    OnRecords(pRecords);
}

function OnRecords(pRecords) {
    var nNow = NowSeconds();
    for (var i = 0; i < pRecords.length; i++) {
        try {
            if (IsStaleRecord(pRecords[i], nNow)) {
                continue;
            }
            if (IsRecord(pRecords[i], "outcome")) {
                OnOutcomeRecord(pRecords[i], window.location.href);
            } else {
                StartRecording(pRecords[i]);
            }
        } catch (e) {
            trace("content -> OnTemplatesLoaded: record " + ErrorText(e));
        }
    }
}

/* ==== Pattern rule ==== */

/* The masked pattern rule: equal texts match; otherwise only the part of the pattern before
   its first "*" counts, and the text must start with it. Case-sensitive. */
function CompareMaskedString(sTextA, sTextB) {
    sTextA = "" + sTextA;
    sTextB = "" + sTextB;
    if (LogEnabledTime) {
        trace("content -> CompareMaskedString: " + sTextA + ", " + sTextB);
    }
    if (sTextA == sTextB) {
        return true;
    }
    var nStar = sTextA.indexOf("*");
    if (nStar < 0) {
        return false;
    }
    var sPrefix = sTextA.substring(0, nStar);
    return sPrefix == "" || sTextB.startsWith(sPrefix);
}

/* ==== Running a template and retries ==== */

/* Drops the template with that ID; given the template itself, drops exactly that one (a
   template passed over as malformed keeps whatever ID it was stored with). */
function RemoveTemplate(nTemplateID, pTemplateRun) {
    for (var i = 0; i < VelnorSSOTemplates.length; i++) {
        var pTemplate = VelnorSSOTemplates[i];
        trace("content -> RemoveTemplate: check template: " + nTemplateID + ", " + (pTemplate ? pTemplate.ID : pTemplate));
        if (pTemplateRun ? pTemplate === pTemplateRun : (pTemplate && pTemplate.ID == nTemplateID)) {
            VelnorSSOTemplates.splice(i, 1);
            UpdateGlobalTemplates();
            return true;
        }
    }
    trace("content -> RemoveTemplate: template not found " + nTemplateID);
    return false;
}

function OnDeferCheckTemplate(pTemplate) {
    trace("content -> OnDeferCheckTemplate: " + pTemplate + ", " + pTemplate.ID);
    try {
        CheckTemplate(pTemplate);
    } catch (e) {
        trace("content -> OnDeferCheckTemplate: " + ErrorText(e));
    }
}

function DeferCheck(pTemplate, nMilliseconds) {
    setTimeout(function () {
        OnDeferCheckTemplate(pTemplate);
    }, nMilliseconds);
}

/* Runs one element step from action nFirstAction on. Returns "done", "failed" or "delayed". */
function RunElementStep(pTemplate, nStep, nFirstAction) {
    var pStep = pTemplate.elements[nStep];
    var pFind = pStep.find;
    trace("content -> CheckTemplate: check action: " + (nStep + 1));
    trace("content -> CheckTemplate: element def: " + pFind + "[ " + (pFind ? pFind.type + ", " + pFind.value : "") + "]");
    /* An element the page does not show yet counts as not found: the retry looks again. */
    var pElement = FindWebElement(pFind, null, IsActionable);
    if (pFind && !pElement) {
        trace("content -> CheckTemplate: find element failed");
        return "failed";
    }
    if (pElement && IsPasswordField(pElement)) {
        NotePasswordField(pTemplate, pFind);
    }
    trace("content -> CheckTemplate: actions: " + pStep.actions);
    if (!pStep.actions) {
        return "done";
    }
    for (var j = nFirstAction; j < pStep.actions.length; j++) {
        var pAction = pStep.actions[j];
        /* What a "text" action types (a password, often) never reaches the console. */
        trace("content -> CheckTemplate: action def: " + pAction + "[ " +
              (pAction ? pAction.type + ", " + (pAction.type == "text" ? "*****" : pAction.value) : "") + "]");
        if (pAction.type == "delay") {
            pTemplate.startElement = nStep;
            pTemplate.startAction = j + 1;
            DeferCheck(pTemplate, pAction.value);
            return "delayed";
        }
        var fDone;
        try {
            fDone = PerformAction(pAction, pElement);
        } catch (e) {
            trace("content -> CheckTemplate: action exception: " + ErrorText(e));
            fDone = false;
        }
        if (!fDone) {
            trace("content -> CheckTemplate: perform action failed");
            return "failed";
        }
    }
    return "done";
}

/* An interval that is not a positive number of seconds (0, negative, not a number) would
   re-check the page every few milliseconds for as long as it is open: it counts as the default
   of one second. The template keeps the value it was written with. */
function RetryMilliseconds(retryInterval) {
    var nSeconds = Number(retryInterval);
    if (!(nSeconds > 0)) {
        nSeconds = 1;
    }
    return nSeconds * 1000;
}

/* A step marked "nextPage" starts on the page that the steps before it lead to (a login that
   asks for the user name and the password on pages of their own). */
function StartsNextPage(pStep) {
    return pStep.nextPage === true;
}

function PageStartOf(pTemplate, nStep) {
    for (var i = Math.min(nStep, pTemplate.elements.length - 1); i > 0; i--) {
        if (StartsNextPage(pTemplate.elements[i])) {
            return i;
        }
    }
    return 0;
}

/*
 * The steps of this page are done: the template goes back to the store resuming at nStep, for
 * the next page that matches it. A page that shows the next step without loading another (an
 * in-page flow) is looked at a while longer; the check resumes as soon as the step's element
 * is there. Looks that find nothing cost no retry: the next page is still on its way.
 */
var NEXT_PAGE_LOOK_MS = 500;
var NEXT_PAGE_LOOKS = 60;

function AwaitNextPage(pTemplate, nStep) {
    pTemplate.startElement = nStep;
    pTemplate.startAction = 0;
    trace("content -> CheckTemplate: the steps from " + (nStep + 1) + " on wait for the next page");
    UpdateGlobalTemplates();
    var nLooks = NEXT_PAGE_LOOKS;
    function Look() {
        if (LeavingPage || pTemplate.startElement != nStep || !HoldsTemplate(pTemplate)) {
            return;
        }
        var pFind = pTemplate.elements[nStep].find;
        if (!pFind || FindWebElement(pFind, null, IsActionable)) {
            OnDeferCheckTemplate(pTemplate);
        } else if (--nLooks > 0) {
            setTimeout(Look, NEXT_PAGE_LOOK_MS);
        }
    }
    setTimeout(Look, NEXT_PAGE_LOOK_MS);
}

function HoldsTemplate(pTemplate) {
    for (var i = 0; i < VelnorSSOTemplates.length; i++) {
        if (VelnorSSOTemplates[i] === pTemplate) {
            return true;
        }
    }
    return false;
}

/* Checks and runs one template; reports whether it dropped the template. */
function CheckTemplate(pTemplate) {
    return RunCheck(pTemplate, null) == "dropped";
}

/* CheckTemplate for the load pass, which reads the page's URL once for many templates: reading
   it costs more than the rest of a check that does not match. sPageUrl is that URL, or null to
   read it here. Returns "dropped", "kept", or "unmatched" where the url did not match and
   nothing but this script ran, so that the URL given still holds for the next check. */
function RunCheck(pTemplate, sPageUrl) {
    if (pTemplate.maxRetries == undefined) {
        pTemplate.maxRetries = 0;
    }
    if (pTemplate.retryInterval == undefined) {
        pTemplate.retryInterval = 1;
    }
    if (pTemplate.startElement == undefined) {
        pTemplate.startElement = 0;
    }
    if (pTemplate.startAction == undefined) {
        pTemplate.startAction = 0;
    }
    /* Building this line also costs more than such a check, so it is built only while tracing
       is on, and where a field is an object: the text of an object can throw (a member named
       toString that is no function), which then ends the check. Either way page code may run
       (the page's console, its toString), which can change the page's URL. */
    var fPageCode = LogEnabledTime || typeof pTemplate.ID == "object" || typeof pTemplate.url == "object" ||
                    typeof pTemplate.title == "object" || typeof pTemplate.retryInterval == "object" ||
                    typeof pTemplate.maxRetries == "object";
    if (fPageCode) {
        trace("content -> CheckTemplate: check template#" + pTemplate.ID + " - " + pTemplate.url + ", " + pTemplate.title +
              ", retryInterval:" + pTemplate.retryInterval + ", maxRetries:" + pTemplate.maxRetries + ", " + window.location.href);
    }
    if (fPageCode || sPageUrl === null) {
        sPageUrl = window.location.href;
    }
    if (!CompareMaskedString(pTemplate.url, sPageUrl)) {
        return fPageCode ? "kept" : "unmatched";
    }
    /* From here on the page's handlers run. */
    if (pTemplate.title != undefined && !CompareMaskedString(pTemplate.title, document.title)) {
        return "kept";
    }
    trace("content -> CheckTemplate: template found, proceeding with login, elements: " + pTemplate.elements.length);

    var sOutcome = "done";
    var nFirst = pTemplate.startElement;
    var fVerify = HasVerify(pTemplate);
    var i;
    if (fVerify) {
        WatchRequests();
    }
    for (i = nFirst; i < pTemplate.elements.length; i++) {
        if (i > nFirst && StartsNextPage(pTemplate.elements[i])) {
            AwaitNextPage(pTemplate, i);
            return "kept";
        }
        if (fVerify && i == pTemplate.elements.length - 1) {
            CountingRequests = true;
        }
        sOutcome = RunElementStep(pTemplate, i, pTemplate.startAction);
        if (sOutcome == "delayed") {
            return "kept";
        }
        if (sOutcome == "failed") {
            break;
        }
        /* A resumed position applies to the first resumed step only. */
        pTemplate.startAction = 0;
    }
    /* A retry starts again at the first step of the page the check failed on: the steps of an
       earlier page are done, and their fields are gone. */
    pTemplate.startElement = sOutcome == "failed" ? PageStartOf(pTemplate, i) : 0;
    pTemplate.startAction = 0;

    if (sOutcome == "done") {
        trace("content -> CheckTemplate: template excuted");
        if (HasVerify(pTemplate)) {
            ReplaceByOutcome(pTemplate);
        } else {
            RemoveTemplate(pTemplate.ID, pTemplate);
        }
        return "dropped";
    }
    trace("content -> CheckTemplate: Template.retryInterval = " + pTemplate.retryInterval);
    if (pTemplate.maxRetries > 0 || pTemplate.maxRetries == -1) {
        DeferCheck(pTemplate, RetryMilliseconds(pTemplate.retryInterval));
        if (pTemplate.maxRetries != -1) {
            pTemplate.maxRetries = pTemplate.maxRetries - 1;
        }
        return "kept";
    }
    RemoveTemplate(pTemplate.ID, pTemplate);
    return "dropped";
}

/* ==== Finding ==== */

/* In IE7 mode getElementById also answers with the first element whose name matches; the
   element that carries the id may come later. */
function FindById(pDocument, sId) {
    var pElement = pDocument.getElementById(sId);
    if (!pElement || pElement.id == sId) {
        return pElement;
    }
    var pAll = pDocument.getElementsByTagName("*");
    for (var i = 0; i < pAll.length; i++) {
        if (pAll[i].nodeType == 1 && pAll[i].id == sId) {
            return pAll[i];
        }
    }
    return null;
}

function ClassNames(sText) {
    var pNames = [];
    var pParts = ("" + sText).split(/[ \t\n\r\f]+/);
    for (var i = 0; i < pParts.length; i++) {
        if (pParts[i] != "") {
            pNames[pNames.length] = pParts[i];
        }
    }
    return pNames;
}

/* getElementsByClassName for documents without it (IE7 and IE8 modes): the elements, in
   document order, that have every class of the list. IE7 mode has no "class" attribute to read
   (getAttribute("class") is null there); className is the same in every mode. */
function FindByClassName(pDocument, sClasses) {
    var pWanted = ClassNames(sClasses);
    var pFound = [];
    if (pWanted.length == 0) {
        return pFound;
    }
    var pAll = pDocument.getElementsByTagName("*");
    for (var i = 0; i < pAll.length; i++) {
        var pElement = pAll[i];
        /* IE before version 9 lists comments here too. */
        if (pElement.nodeType != 1 || !pElement.className) {
            continue;
        }
        var sHave = " " + ClassNames(pElement.className).join(" ") + " ";
        var fAll = true;
        for (var j = 0; fAll && j < pWanted.length; j++) {
            fAll = sHave.indexOf(" " + pWanted[j] + " ") >= 0;
        }
        if (fAll) {
            pFound[pFound.length] = pElement;
        }
    }
    return pFound;
}

/* The first element of a list that fAccept takes (any element without fAccept). */
function FirstAccepted(pList, fAccept) {
    for (var i = 0; pList && i < pList.length; i++) {
        if (!fAccept || fAccept(pList[i])) {
            return pList[i];
        }
    }
    return null;
}

function FindInDocument(pDef, pWindow, fAccept) {
    var pDocument = pWindow.document;
    switch (pDef.type) {
        case "id":
            return FirstAccepted([FindById(pDocument, pDef.value)], fAccept);
        case "name":
            return FirstAccepted(pDocument.getElementsByName(pDef.value), fAccept);
        case "class":
            if (!pDocument.getElementsByClassName) {
                return FirstAccepted(FindByClassName(pDocument, pDef.value), fAccept);
            }
            return FirstAccepted(pDocument.getElementsByClassName(pDef.value), fAccept);
        case "xpath":
            /* The extension searches the top-level document, whatever window is searched. */
            return FirstAccepted([window.VelnorIEExt.GetElementByXPath(pDef.value)], fAccept);
        case "selector":
            if (!pDocument.querySelector) {
                trace("content -> FindWebElement: this document has no CSS selectors: " + pDef.value);
                return null;
            }
            return fAccept ? FirstAccepted(pDocument.querySelectorAll(pDef.value), fAccept) :
                             pDocument.querySelector(pDef.value);
        default:
            return null;
    }
}

/* The first element pDef finds (that fAccept takes, when given) in the window's document, else
   in its frames. */
function FindWebElement(pDef, pWindow, fAccept) {
    if (pWindow == undefined) {
        pWindow = window;
    }
    try {
        var pElement = FindInDocument(pDef, pWindow, fAccept);
        if (pElement) {
            return pElement;
        }
        /* Depth first: this window's document, then each frame with its own frames. */
        for (var i = 0; pWindow.frames && i < pWindow.frames.length; i++) {
            var pFrame = pWindow.frames[i];
            if (pFrame == undefined) {
                continue;
            }
            pElement = FindWebElement(pDef, pFrame, fAccept);
            if (pElement) {
                return pElement;
            }
        }
    } catch (e) {
        trace("FindWebElement() -> exception: " + ErrorText(e));
        return null;
    }
    return null;
}

/* Whether the page shows the element: laid out with a size, not hidden. Error messages and
   second steps often sit in the page hidden until they apply. */
function IsShown(pElement) {
    if (!pElement || !(pElement.offsetWidth > 0 || pElement.offsetHeight > 0)) {
        return false;
    }
    var pStyle = null;
    if (pElement.currentStyle) {
        pStyle = pElement.currentStyle;
    } else if (typeof getComputedStyle != "undefined") {
        pStyle = getComputedStyle(pElement, null);
    }
    return !pStyle || pStyle.visibility != "hidden";
}

/*
 * Whether a step may act on the element: a person types into, clicks and chooses only what the
 * page shows, and a form the page has not shown yet (a dialog still closed, a form that fades in
 * after load) takes no typing: it would be lost, or sent with nothing. Two kinds are taken
 * unshown: a hidden input, which is never shown and which a template names on purpose, and a
 * check box, radio button or list that the page hides to draw its own in its place; that one
 * stands in a shown parent, where one of a hidden form does not.
 */
function IsActionable(pElement) {
    if (IsShown(pElement)) {
        return true;
    }
    if (!pElement || pElement.nodeType != 1) {
        return false;
    }
    var sTag = TagOf(pElement);
    var sType = ("" + pElement.type).toLowerCase();
    if (sTag == "input" && sType == "hidden") {
        return true;
    }
    var pParent = pElement.parentNode;
    return (sTag == "select" || (sTag == "input" && (sType == "checkbox" || sType == "radio"))) &&
           !!pParent && pParent.nodeType == 1 && IsShown(pParent);
}

function IsPasswordField(pElement) {
    return ("" + pElement.tagName).toLowerCase() == "input" && ("" + pElement.type).toLowerCase() == "password";
}

/* The documents a search reaches, in search order: this window's, then each frame's with its
   own frames. Frames that cannot be read are passed over. */
function ReadableDocuments(pWindow, pInto) {
    pInto = pInto || [];
    try {
        if (pWindow.document) {
            pInto[pInto.length] = { window: pWindow, document: pWindow.document };
        }
        for (var i = 0; pWindow.frames && i < pWindow.frames.length; i++) {
            if (pWindow.frames[i] != undefined) {
                ReadableDocuments(pWindow.frames[i], pInto);
            }
        }
    } catch (e) {
        trace("content -> ReadableDocuments: " + ErrorText(e));
    }
    return pInto;
}

/* The text of an element's own text nodes, not its descendants'. */
function OwnText(pElement) {
    var sText = "";
    var pNodes = pElement.childNodes;
    for (var i = 0; pNodes && i < pNodes.length; i++) {
        if (pNodes[i].nodeType == 3) {
            sText += pNodes[i].nodeValue;
        }
    }
    return sText;
}

/* A "text" find: a shown element whose own text holds the value, letter case aside. Only a
   sign-on's verify uses it; among a template's steps it finds nothing, as any unknown type. */
function FindByText(sWanted) {
    sWanted = ("" + sWanted).toLowerCase();
    if (sWanted == "") {
        return null;
    }
    var pDocuments = ReadableDocuments(window);
    for (var d = 0; d < pDocuments.length; d++) {
        var pAll = pDocuments[d].document.getElementsByTagName("*");
        for (var i = 0; i < pAll.length; i++) {
            var pElement = pAll[i];
            if (pElement.nodeType != 1) {
                continue;
            }
            var sTag = ("" + pElement.tagName).toLowerCase();
            if (sTag == "script" || sTag == "style" || sTag == "title") {
                continue;
            }
            if (OwnText(pElement).toLowerCase().indexOf(sWanted) >= 0 && IsShown(pElement)) {
                return pElement;
            }
        }
    }
    return null;
}

/* Whether a list of finds (a verify's failure, success or changeRequired) has one the page
   shows. */
function ShowsAnyOf(pFinds) {
    if (!pFinds || Object.prototype.toString.call(pFinds) != "[object Array]") {
        return false;
    }
    for (var i = 0; i < pFinds.length; i++) {
        var pFind = pFinds[i];
        if (!pFind || typeof pFind != "object") {
            continue;
        }
        var pElement = pFind.type == "text" ? FindByText(pFind.value) : FindWebElement(pFind);
        if (pElement && IsShown(pElement)) {
            return true;
        }
    }
    return false;
}

/* ==== Actions ==== */

function SendElementEvent(pElement, sEvent) {
    if ("createEvent" in document) {
        var pEvent = document.createEvent("HTMLEvents");
        pEvent.initEvent(sEvent, true, false);
        pElement.dispatchEvent(pEvent);
        return;
    }
    /* Before IE9 mode only fireEvent exists, and it refuses the names of events the document
       mode does not have (IE8 has no "oninput"). No handler can listen for such an event, so
       the step counts as done and the sign-on goes on. */
    try {
        pElement.fireEvent("on" + sEvent);
    } catch (e) {
        trace("content -> SendElementEvent: " + sEvent + " not sent: " + ErrorText(e));
    }
}

/*
 * Sets a form field's value through the element prototype's own "value" setter where the
 * engine has one. Pages built with React-style libraries keep a copy of the value on the
 * element itself and ignore an "input" event when that copy already equals the new value;
 * a plain assignment from page script updates the copy, the prototype's setter does not.
 * For every other page this is the same as "pElement.value = value".
 */
function SetElementValue(pElement, value) {
    var fSetter = null;
    try {
        if (Object.getPrototypeOf && Object.getOwnPropertyDescriptor) {
            var pDescriptor = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(pElement), "value");
            if (pDescriptor && pDescriptor.set) {
                fSetter = pDescriptor.set;
            }
        }
    } catch (e) {
        fSetter = null;
    }
    if (fSetter) {
        fSetter.call(pElement, value);
    } else {
        pElement.value = value;
    }
}

function SelectOption(pElement, value, fByText) {
    var pOptions = pElement.options;
    for (var i = 0; pOptions && i < pOptions.length; i++) {
        if (pOptions[i].text == value || (!fByText && pOptions[i].value == value)) {
            pElement.selectedIndex = i;
            return;
        }
    }
}

/* What a person's typing lets a page see, in order: pages built with React, Angular or Vue, and
   pages that validate as you type, learn of a value only from these. */
var TYPING_EVENTS = ["keydown", "keypress", "input", "keyup", "change"];
var CHOICE_EVENTS = ["input", "change"];

function SendElementEvents(pElement, pEvents) {
    for (var i = 0; i < pEvents.length; i++) {
        SendElementEvent(pElement, pEvents[i]);
    }
}

function PerformAction(pAction, pElement) {
    switch (pAction.type) {
        case "text":
            if (!pElement) {
                return false;
            }
            SetElementValue(pElement, pAction.value);
            if (pAction.events === true) {
                SendElementEvents(pElement, TYPING_EVENTS);
            }
            return true;
        case "click":
            if (!pElement) {
                return false;
            }
            pElement.disabled = false;
            pElement.click();
            return true;
        case "select":
            if (!pElement) {
                return false;
            }
            if (pAction.value != undefined) {
                SelectOption(pElement, pAction.value, false);
            } else if (pAction.byValue != undefined) {
                pElement.value = pAction.byValue;
            } else if (pAction.byDisplay != undefined) {
                SelectOption(pElement, pAction.byDisplay, true);
            } else {
                return false;
            }
            if (pAction.events === true) {
                SendElementEvents(pElement, CHOICE_EVENTS);
            }
            return true;
        case "checkbox":
            if (!pElement || pAction.selected == undefined) {
                return false;
            }
            /* byClick: a toggling click, which the page's own handlers see (a framework's box
               ignores a changed "checked"); a box already in the wanted state is left alone. */
            if (pAction.byClick === true) {
                if (!pElement.checked != !(pAction.selected == "true")) {
                    pElement.click();
                }
                return true;
            }
            pElement.checked = (pAction.selected == "true");
            return true;
        case "keypress":
            return true;
        case "enable":
            if (!pElement) {
                return false;
            }
            pElement.disabled = (pAction.value != undefined && pAction.value == false);
            return true;
        case "sendEvent":
            if (!pElement) {
                return false;
            }
            SendElementEvent(pElement, pAction.event);
            return true;
        default:
            /* "httpBasicAuth" and types this script does not know have no effect here. */
            return true;
    }
}

/* ==== Sign-on outcomes ==== */

/*
 * A template with "verify" does not leave the store when its steps are done: it is replaced by
 * an outcome record, which holds no secret and no steps (older scripts pass over it):
 *   { "url": "<site>/*", "name", "credential", "kind", "outcome": "submitted", "at", "attempt",
 *     "verify": <the template's>, "form": [<finds of the password fields it typed into>] }
 * Its url reaches every page of the site, and only that site. The next pages of the site within
 * verify.within seconds of "at" (and the page that submitted, for errors shown in the page)
 * settle it, and say how ("how"): "seen" when a find of verify is shown ("changeRequired",
 * "failed", "succeeded"); "guessed" from what the page did otherwise: the login form shown again
 * with an empty password field is "failed" where a request left for the site ("sent": a next
 * page loaded, or this page posted by script), "notSubmitted" where none did; once the time has
 * passed with no failure, "succeeded" (or as for the form shown again, where it still stands).
 * The records tell the program that prepared the sign-on whether the site took the password,
 * so that a refused one is never typed again by itself, and one the site never saw is never
 * called refused. The extension stamps each record with the page's origin, time and tab, and lets
 * only the tab that submitted settle it.
 */
var OUTCOME_WITHIN = 15;          /* seconds, unless verify.within says otherwise */
var OUTCOME_LOOK_MS = 500;
var RECORD_LIFETIME = 600;        /* seconds a record stays; older ones are left out of writes */

/* Set when the page starts to unload: a page on its way out settles nothing by the clock. */
var LeavingPage = false;
/* Set when this page sends a request that can carry a form (a POST by script) from the last step
   of a template with verify on: the site may have answered the password without a page of its
   own. Requests before that step (a page's own traffic while the fields are typed) do not count. */
var RequestSent = false;
var CountingRequests = false;
/* The records this page already watches. */
var WatchedRecords = [];

function NowSeconds() {
    return new Date().getTime() / 1000;
}

function IsRecord(pEntry, sField) {
    return pEntry && typeof pEntry == "object" && typeof pEntry[sField] == "string" && pEntry.elements == undefined;
}

/* When a record was written: the extension's stamp on it, else what the page that wrote it said. */
function RecordTime(pEntry) {
    var pStamp = pEntry.stamp;
    return pStamp && typeof pStamp == "object" && typeof pStamp.at == "number" ? pStamp.at : pEntry.at;
}

function IsStaleRecord(pEntry, nNow) {
    if (IsRecord(pEntry, "outcome") || IsRecord(pEntry, "draft")) {
        var nAt = RecordTime(pEntry);
        return !(typeof nAt == "number" && nAt + RECORD_LIFETIME > nNow);
    }
    if (IsRecord(pEntry, "recorder")) {
        return !(typeof pEntry.expires == "number" && pEntry.expires > nNow);
    }
    return false;
}

/*
 * The array as it goes to the store: records past their time left out. The extension applies a
 * write as a change to what this page read, so a launched template another tab used meanwhile
 * stays gone, and what other tabs wrote since stays as they wrote it.
 */
function EntriesToWrite(pTemplates) {
    var nNow = NowSeconds();
    var pKept = null;
    for (var i = 0; pTemplates && i < pTemplates.length; i++) {
        if (IsStaleRecord(pTemplates[i], nNow)) {
            if (!pKept) {
                pKept = pTemplates.slice(0, i);
            }
        } else if (pKept) {
            pKept[pKept.length] = pTemplates[i];
        }
    }
    return pKept || pTemplates;
}

function HasVerify(pTemplate) {
    return pTemplate.verify != null && typeof pTemplate.verify == "object";
}

/* The site of an address: scheme and host (with a port), without the path. */
function SiteOf(sUrl) {
    var pMatch = /^[a-zA-Z][a-zA-Z0-9+.\-]*:\/\/[^\/?#]*/.exec("" + sUrl);
    return pMatch ? pMatch[0] : "";
}

/* The finds of the password fields a template typed into, kept for its outcome record. */
var TypedPasswordFields = [];

function NotePasswordField(pTemplate, pFind) {
    TypedPasswordFields[TypedPasswordFields.length] = { template: pTemplate, find: pFind };
}

function PasswordFieldsOf(pTemplate) {
    var pFinds = [];
    for (var i = 0; i < TypedPasswordFields.length; i++) {
        if (TypedPasswordFields[i].template === pTemplate) {
            pFinds[pFinds.length] = { type: TypedPasswordFields[i].find.type, value: TypedPasswordFields[i].find.value };
        }
    }
    return pFinds;
}

function ReplaceByOutcome(pTemplate) {
    var pRecord = {
        url: SiteOf(window.location.href) + "/*",
        outcome: "submitted",
        at: Math.floor(NowSeconds()),
        attempt: typeof pTemplate.launchId == "string" ? pTemplate.launchId :
                 "page-" + Math.floor(Math.random() * 2147483647).toString(36)
    };
    if (pTemplate.name != undefined) {
        pRecord.name = pTemplate.name;
    }
    if (pTemplate.credential != undefined) {
        pRecord.credential = pTemplate.credential;
    }
    if (pTemplate.kind != undefined) {
        pRecord.kind = pTemplate.kind;
    }
    pRecord.verify = pTemplate.verify;
    /* The fields of the last page only: an earlier page's are gone after a two-page login. */
    pRecord.form = PasswordFieldsOf(pTemplate);
    for (var i = 0; i < VelnorSSOTemplates.length; i++) {
        if (VelnorSSOTemplates[i] === pTemplate) {
            VelnorSSOTemplates.splice(i, 1, pRecord);
            break;
        }
    }
    trace("content -> outcome: " + pRecord.url + " submitted");
    UpdateGlobalTemplates();
    WatchOutcome(pRecord, true);
}

function OutcomeWithin(pRecord) {
    var nWithin = pRecord.verify && Number(pRecord.verify.within);
    return nWithin > 0 ? nWithin : OUTCOME_WITHIN;
}

/* The login form shown again: one of the password fields typed into, shown, and empty unless
   fAnyValue. */
function ShowsLoginForm(pRecord, fAnyValue) {
    var pForm = pRecord.form;
    for (var i = 0; pForm && i < pForm.length; i++) {
        var pField = pForm[i] && typeof pForm[i] == "object" ? FindWebElement(pForm[i]) : null;
        if (pField && IsPasswordField(pField) && IsShown(pField) && (fAnyValue || pField.value == "")) {
            return true;
        }
    }
    return false;
}

/* What the page shows of the outcome now, or null when it shows nothing either way. */
function JudgeOutcome(pRecord) {
    var pVerify = pRecord.verify || {};
    if (ShowsAnyOf(pVerify.changeRequired)) {
        return "changeRequired";
    }
    if (ShowsAnyOf(pVerify.failure)) {
        return "failed";
    }
    if (ShowsAnyOf(pVerify.success)) {
        return "succeeded";
    }
    return null;
}

function SettleOutcome(pRecord, sOutcome, sHow, fSent) {
    pRecord.outcome = sOutcome;
    pRecord.how = sHow;
    pRecord.sent = fSent;
    pRecord.settled = Math.floor(NowSeconds());
    trace("content -> outcome: " + pRecord.url + " " + sOutcome + ", " + sHow);
    UpdateGlobalTemplates();
}

/* What the login form standing on a page says: "failed" where the site had the form, else that
   nothing reached it. */
function FormAgainOutcome(fSent) {
    return fSent ? "failed" : "notSubmitted";
}

/*
 * Watches a submitted record on this page until it is settled or its time is up. fSamePage:
 * this page submitted the form, which still shows what was typed; its password field counts as
 * shown again only once it has been seen empty twice in a row, since a page may clear it on the
 * way out.
 */
function WatchOutcome(pRecord, fSamePage) {
    for (var i = 0; i < WatchedRecords.length; i++) {
        if (WatchedRecords[i] === pRecord) {
            return;
        }
    }
    WatchedRecords[WatchedRecords.length] = pRecord;
    var nDeadline = (RecordTime(pRecord) + OutcomeWithin(pRecord)) * 1000;
    var nEmptyLooks = 0;
    function Look() {
        if (LeavingPage || pRecord.outcome != "submitted" || !HoldsTemplate(pRecord)) {
            return;
        }
        var sOutcome = null;
        var sHow = "guessed";
        /* A next page of the site came of a request; this page only where it posted by script. */
        var fSent = !fSamePage || RequestSent;
        try {
            sOutcome = JudgeOutcome(pRecord);
            if (sOutcome) {
                sHow = "seen";
            } else if (ShowsLoginForm(pRecord, false)) {
                nEmptyLooks++;
                if (!fSamePage || nEmptyLooks >= 2) {
                    sOutcome = FormAgainOutcome(fSent);
                }
            } else {
                nEmptyLooks = 0;
            }
            if (!sOutcome && new Date().getTime() >= nDeadline) {
                sOutcome = ShowsLoginForm(pRecord, true) ? FormAgainOutcome(fSent) : "succeeded";
            }
        } catch (e) {
            trace("content -> outcome: " + ErrorText(e));
        }
        if (sOutcome) {
            SettleOutcome(pRecord, sOutcome, sHow, fSent);
        } else {
            setTimeout(Look, OUTCOME_LOOK_MS);
        }
    }
    if (fSamePage) {
        setTimeout(Look, OUTCOME_LOOK_MS);
    } else {
        Look();
    }
}

/* A submitted record of this page's site, met by the load pass. One whose time ran out long
   ago, with no page of the site in between, is left to age: this page says nothing of it. */
var OUTCOME_LATE = 30;

function OnOutcomeRecord(pRecord, sPageUrl) {
    if (pRecord.outcome == "submitted" && typeof RecordTime(pRecord) == "number" &&
        NowSeconds() < RecordTime(pRecord) + OutcomeWithin(pRecord) + OUTCOME_LATE &&
        SiteOf(pRecord.url) == SiteOf(sPageUrl) && SiteOf(sPageUrl) != "") {
        WatchOutcome(pRecord, false);
    }
}

/*
 * Notes a POST this page sends by script from now on (XMLHttpRequest, fetch): pages that sign on
 * without loading another page send the form that way. Requests that only read (GET) say nothing
 * of a password. Where the engine does not let its objects be changed, nothing is noted, and only
 * a next page tells that a request left.
 */
var WatchingRequests = false;

function IsPost(sMethod) {
    return ("" + sMethod).toUpperCase() == "POST";
}

function WatchRequests() {
    if (WatchingRequests) {
        return;
    }
    WatchingRequests = true;
    try {
        var pRequest = typeof XMLHttpRequest != "undefined" && XMLHttpRequest.prototype;
        if (pRequest && pRequest.open && pRequest.send) {
            var fOpen = pRequest.open, fSend = pRequest.send;
            pRequest.open = function (sMethod) {
                this.velnorPost = IsPost(sMethod);
                return fOpen.apply(this, arguments);
            };
            pRequest.send = function () {
                if (this.velnorPost && CountingRequests) {
                    RequestSent = true;
                }
                return fSend.apply(this, arguments);
            };
        }
        if (typeof window.fetch == "function") {
            var fFetch = window.fetch;
            window.fetch = function (pInput, pInit) {
                if (CountingRequests && IsPost(pInit && pInit.method ? pInit.method : (pInput && pInput.method) || "GET")) {
                    RequestSent = true;
                }
                return fFetch.apply(this, arguments);
            };
        }
    } catch (e) {
        trace("content -> WatchRequests: " + ErrorText(e));
    }
}

function WatchUnload() {
    function OnLeave() {
        LeavingPage = true;
    }
    try {
        if (window.addEventListener) {
            window.addEventListener("beforeunload", OnLeave, false);
        } else if (window.attachEvent) {
            window.attachEvent("onbeforeunload", OnLeave);
        }
    } catch (e) {
        trace("content -> WatchUnload: " + ErrorText(e));
    }
}

/* ==== Store write-back ==== */

function UpdateGlobalTemplates() {
    try {
        window.VelnorIEExt.Templates = StringifyJson(EntriesToWrite(VelnorSSOTemplates));
    } catch (e) {
        /* The store refuses a text that does not fit; what it held stays. */
        trace("content -> UpdateGlobalTemplates: " + ErrorText(e));
    }
}

/* ==== Recording ==== */

/*
 * While the store holds a live recorder record ({ "recorder": id, "expires" }, written by the
 * store tool only), every page that shows a login form writes a draft of it:
 *   { "draft": id, "url": "<page address without query>*", "page", "title", "at", "key",
 *     "user": find, "password": find, "submit": find, "frame": true when in a frame,
 *     "fields": [{ "find", "kind": "text" | "select" | "checkbox" }, ...], "userAt": n,
 *     "left": [names of query parameters left out of "page"] }
 * "page" is the page's address with its query (the page many sites show their login form on
 * is named by it) but without its fragment and without a query parameter that looks like a
 * one-time value; "left" names those. "fields" are the form's other fields in page order, and
 * "userAt" how many of them come before the user name field. Each find is the most stable
 * locator that finds exactly that element (see LocatorOf). A page that asks for the user name
 * alone (a login of two pages) gives a draft without "password". One draft per recorder, page
 * and form; the page is looked at again while the recorder lasts, for forms shown later.
 *
 * When the administrator sends the form (its submit event, or a click on what submits it), the
 * page writes the draft again, with "sent": true and, for each other field, what it held then:
 * "value" (a text field's text, the value of a list's chosen option) or "checked" (a check box).
 * Never what the user name field or a password field holds, nor any field whose description
 * says it holds a secret or a one-time code, nor a value that looks like a one-time token, nor
 * an empty text field: the page's own value for those stays the page's.
 */
var RECORD_LOOK_MS = 1000;
/* The longest text of a field a draft carries: longer ones are no setting a person types. */
var RECORD_VALUE_MAX = 256;

function StartRecording(pRecorder) {
    var pState = { written: {}, sent: {}, documents: [], forms: [] };
    function Look() {
        if (LeavingPage || !(pRecorder.expires > NowSeconds())) {
            return;
        }
        try {
            WriteDrafts(pRecorder, pState);
        } catch (e) {
            trace("content -> recorder: " + ErrorText(e));
        }
        setTimeout(Look, RECORD_LOOK_MS);
    }
    trace("content -> recorder: " + pRecorder.recorder);
    Look();
}

function WriteDrafts(pRecorder, pState) {
    var pDocuments = ReadableDocuments(window);
    var fAdded = false;
    for (var d = 0; d < pDocuments.length; d++) {
        WatchSends(pRecorder, pState, pDocuments[d].document);
        var pForms = LoginForms(pDocuments[d].document);
        for (var f = 0; f < pForms.length; f++) {
            var pParts = FormParts(pForms[f]);
            if (!pParts) {
                continue;
            }
            WatchSubmit(pRecorder, pState, pForms[f].form);
            var sKey = DraftKey(pForms[f], d, pParts);
            var pDraft = pState.written[sKey] ? null : DraftOf(pForms[f], d, false);
            if (!pDraft || IndexOfDraft(pRecorder.recorder, pDraft.page, sKey) >= 0) {
                continue;
            }
            pState.written[sKey] = true;
            pDraft.draft = pRecorder.recorder;
            VelnorSSOTemplates[VelnorSSOTemplates.length] = pDraft;
            trace("content -> recorder: draft " + pDraft.key);
            fAdded = true;
        }
    }
    if (fAdded) {
        UpdateGlobalTemplates();
    }
}

function IndexOfDraft(sRecorder, sPage, sKey) {
    for (var i = 0; i < VelnorSSOTemplates.length; i++) {
        var pEntry = VelnorSSOTemplates[i];
        if (IsRecord(pEntry, "draft") && pEntry.draft == sRecorder && pEntry.page == sPage && pEntry.key == sKey) {
            return i;
        }
    }
    return -1;
}

/* An object once in a list: whether it was there already. */
function HeldOnce(pList, pItem) {
    for (var i = 0; i < pList.length; i++) {
        if (pList[i] === pItem) {
            return true;
        }
    }
    pList[pList.length] = pItem;
    return false;
}

function Listen(pTarget, sEvent, fHandler) {
    if (pTarget.addEventListener) {
        /* Captured: before the page's own handlers, which may disable or clear the form. */
        pTarget.addEventListener(sEvent, fHandler, true);
    } else if (pTarget.attachEvent) {
        pTarget.attachEvent("on" + sEvent, fHandler);
    }
}

/* Clicks on what submits a form, and in documents with capture every form's submit event. A
   document of IE before version 9 has no capture, and its submit event does not bubble: each
   login form is watched on its own (WatchSubmit). */
function WatchSends(pRecorder, pState, pDocument) {
    if (HeldOnce(pState.documents, pDocument)) {
        return;
    }
    function OnSend(pEvent) {
        try {
            pEvent = pEvent || (pDocument.parentWindow && pDocument.parentWindow.event);
            DraftSent(pRecorder, pState, pEvent.target || pEvent.srcElement);
        } catch (e) {
            trace("content -> recorder: " + ErrorText(e));
        }
    }
    Listen(pDocument, "click", OnSend);
    if (pDocument.addEventListener) {
        Listen(pDocument, "submit", OnSend);
    }
}

function WatchSubmit(pRecorder, pState, pForm) {
    if (!pForm || pForm.addEventListener || HeldOnce(pState.forms, pForm)) {
        return;
    }
    Listen(pForm, "submit", function (pEvent) {
        try {
            pEvent = pEvent || window.event;
            DraftSent(pRecorder, pState, pEvent.srcElement || pForm);
        } catch (e) {
            trace("content -> recorder: " + ErrorText(e));
        }
    });
}

/* Whether pNode is pElement or inside it. */
function IsWithin(pNode, pElement) {
    for (; pNode; pNode = pNode.parentNode) {
        if (pNode === pElement) {
            return true;
        }
    }
    return false;
}

/* The form that pTarget (a form being submitted, or what a click hit) sends: its draft is
   written again with what its fields hold now. */
function DraftSent(pRecorder, pState, pTarget) {
    if (!pTarget || LeavingPage || !(pRecorder.expires > NowSeconds())) {
        return;
    }
    var pDocuments = ReadableDocuments(window);
    for (var d = 0; d < pDocuments.length; d++) {
        if ((pTarget.ownerDocument || pTarget.document) !== pDocuments[d].document) {
            continue;
        }
        var pForms = LoginForms(pDocuments[d].document);
        for (var f = 0; f < pForms.length; f++) {
            var pParts = FormParts(pForms[f]);
            if (!pParts || !(pTarget === pForms[f].form || IsWithin(pTarget, pParts.submit))) {
                continue;
            }
            var pDraft = DraftOf(pForms[f], d, true);
            var sText = pDraft ? StringifyJson(pDraft) : "";
            /* The click on a submit control and the submit event that follows it say the same. */
            if (!pDraft || pState.sent[pDraft.key] == sText) {
                return;
            }
            pState.sent[pDraft.key] = sText;
            pState.written[pDraft.key] = true;
            pDraft.draft = pRecorder.recorder;
            var nAt = IndexOfDraft(pRecorder.recorder, pDraft.page, pDraft.key);
            VelnorSSOTemplates.splice(nAt >= 0 ? nAt : VelnorSSOTemplates.length, nAt >= 0 ? 1 : 0, pDraft);
            trace("content -> recorder: sent " + pDraft.key);
            UpdateGlobalTemplates();
            return;
        }
    }
}

function TagOf(pElement) {
    return ("" + pElement.tagName).toLowerCase();
}

function TypeOf(pElement) {
    return ("" + (pElement.getAttribute("type") || "")).toLowerCase();
}

/* A field a user name goes into: a text input of any of the kinds browsers offer for it. */
function IsTextField(pElement) {
    var sType = TypeOf(pElement);
    return TagOf(pElement) == "input" && (sType == "text" || sType == "email" || sType == "tel" || sType == "");
}

function IsSubmitControl(pElement) {
    var sTag = TagOf(pElement);
    var sType = TypeOf(pElement);
    return (sTag == "input" && (sType == "submit" || sType == "image")) ||
           (sTag == "button" && (sType == "submit" || sType == ""));
}

function IsButton(pElement) {
    var sTag = TagOf(pElement);
    var sType = TypeOf(pElement);
    return sTag == "button" || (sTag == "input" && (sType == "button" || sType == "submit" || sType == "image"));
}

/* The kind of field whose setting a draft keeps ("text", "select" or "checkbox"), or null. */
function FieldKind(pElement) {
    var sTag = TagOf(pElement);
    var sType = TypeOf(pElement);
    if (sTag == "select") {
        return pElement.multiple ? null : "select";
    }
    if (sTag == "input" && sType == "checkbox") {
        return "checkbox";
    }
    return IsTextField(pElement) || (sTag == "input" && (sType == "number" || sType == "url" || sType == "search"))
        ? "text" : null;
}

/* Named like a user name: what a page calls the field, or how it asks the browser to fill it. */
var USER_NAME_HINT = /user|login|logon|email|e-mail|mail|account|uid|name|ident/i;

function LooksLikeUserName(pElement) {
    var sAuto = "" + (pElement.getAttribute("autocomplete") || "");
    return TypeOf(pElement) == "email" || /username|email/i.test(sAuto) ||
           USER_NAME_HINT.test("" + pElement.id) || USER_NAME_HINT.test("" + pElement.name);
}

/*
 * Names that say a field or a query parameter holds a secret or a value good for one use: a
 * password, a one-time code or PIN, a token against forged requests, an OAuth state or code, a
 * session or a signature. Parts are found anywhere in a name; words only as a word of it
 * ("userPin", "sms_code", "one-time-code"), so that "spinner" or "codec" say nothing.
 */
var SECRET_PARTS = /pass|pwd|secret|token|csrf|xsrf|nonce|captcha|onetime|sectok|sessionid|sessid|saml/;
var SECRET_WORDS = /^(pw|pin|otp|totp|hotp|code|mfa|2fa|tan|key|cvv|cvc|cc|answer|state|sid|ticket|sig|signature|hmac)$/;

function SaysSecret(sName) {
    var sText = ("" + sName).replace(/([a-z])([A-Z])/g, "$1 $2").toLowerCase();
    if (SECRET_PARTS.test(sText.replace(/[^a-z0-9]+/g, ""))) {
        return true;
    }
    var pWords = sText.split(/[^a-z0-9]+/);
    for (var i = 0; i < pWords.length; i++) {
        if (SECRET_WORDS.test(pWords[i])) {
            return true;
        }
    }
    return false;
}

/* A value that looks like a one-time token: a run of 16 or more letters and digits that changes
   between letters and digits at least three times (hexadecimal, Base64, a signed ticket). A
   host name, a word with a number or a date does not. */
function LooksOneTime(sValue) {
    var pRuns = ("" + sValue).match(/[A-Za-z0-9]{16,}/g);
    for (var i = 0; pRuns && i < pRuns.length; i++) {
        if (pRuns[i].replace(/[A-Za-z]+/g, "a").replace(/[0-9]+/g, "0").length > 3) {
            return true;
        }
    }
    return false;
}

function SaysFieldSecret(pElement) {
    var pSaid = [pElement.getAttribute("name"), pElement.id, pElement.getAttribute("autocomplete"),
                 pElement.getAttribute("placeholder")];
    for (var i = 0; i < pSaid.length; i++) {
        if (pSaid[i] && SaysSecret(pSaid[i])) {
            return true;
        }
    }
    return false;
}

function Decoded(sText) {
    try {
        return decodeURIComponent(sText.replace(/\+/g, " "));
    } catch (e) {
        return sText;
    }
}

/* The page's address as a draft names it: without its fragment, and without the query
   parameters that look like one-time values (by name or by value) or hold a user name (a form
   sent by GET puts what was typed into the next page's address), which "left" names. */
function RecordedAddress(sHref) {
    var sAddress = ("" + sHref).replace(/#.*$/, "");
    var nQuery = sAddress.indexOf("?");
    var pKept = [], pLeft = [];
    var pParameters = nQuery < 0 ? [] : sAddress.substring(nQuery + 1).split("&");
    for (var i = 0; i < pParameters.length; i++) {
        var sName = Decoded(pParameters[i].split("=")[0]);
        var sValue = Decoded(pParameters[i].substring(pParameters[i].split("=")[0].length + 1));
        if (pParameters[i] == "") {
            continue;
        }
        if (SaysSecret(sName) || LooksOneTime(sValue) || (sValue != "" && USER_NAME_HINT.test(sName))) {
            pLeft[pLeft.length] = sName;
        } else {
            pKept[pKept.length] = pParameters[i];
        }
    }
    return { page: (nQuery < 0 ? sAddress : sAddress.substring(0, nQuery)) + (pKept.length ? "?" + pKept.join("&") : ""),
             left: pLeft };
}

/* The forms of a document that sign on: each with its shown fields in document order. Fields
   outside any form count as one form of the document. */
function LoginForms(pDocument) {
    var pAll = pDocument.getElementsByTagName("*");
    var pForms = [];
    for (var i = 0; i < pAll.length; i++) {
        var pElement = pAll[i];
        if (pElement.nodeType != 1 || !(FieldKind(pElement) || IsPasswordField(pElement) || IsButton(pElement))) {
            continue;
        }
        if ((pElement.disabled && !IsButton(pElement)) || !IsShown(pElement)) {
            continue;
        }
        var pOwner = pElement.form || null;
        var pForm = null;
        for (var j = 0; j < pForms.length; j++) {
            if (pForms[j].form === pOwner) {
                pForm = pForms[j];
            }
        }
        if (!pForm) {
            pForm = { form: pOwner, index: pForms.length, fields: [], document: pDocument };
            pForms[pForms.length] = pForm;
        }
        pForm.fields[pForm.fields.length] = pElement;
    }
    return pForms;
}

/*
 * The parts of a login form, or null where it is none: its one shown password field (more are a
 * form that sets a password), the user name field before it (the last one named like it, else
 * the last text field), what submits the form (the first submit control after the password
 * field, else the first one, else its only button), and its other fields in page order, each
 * with whether it comes before the user name field.
 */
function FormParts(pForm) {
    var pParts = { password: null, user: null, submit: null, others: [] };
    var pTexts = [], pButtons = [], pFirstSubmit = null, pSubmitAfter = null, nPasswords = 0, i;
    for (i = 0; i < pForm.fields.length; i++) {
        var pField = pForm.fields[i];
        if (IsPasswordField(pField)) {
            nPasswords++;
            pParts.password = pParts.password || pField;
        } else if (IsButton(pField)) {
            pButtons[pButtons.length] = pField;
            if (IsSubmitControl(pField)) {
                pFirstSubmit = pFirstSubmit || pField;
                pSubmitAfter = pSubmitAfter || (pParts.password ? pField : null);
            }
        } else if (IsTextField(pField) && !pParts.password) {
            pTexts[pTexts.length] = pField;
        }
    }
    pParts.submit = pSubmitAfter || pFirstSubmit || (pButtons.length == 1 ? pButtons[0] : null);
    if (nPasswords > 1 || !pParts.submit) {
        return null;
    }
    for (i = 0; i < pTexts.length; i++) {
        if (!pParts.user || LooksLikeUserName(pTexts[i]) || !LooksLikeUserName(pParts.user)) {
            pParts.user = pTexts[i];
        }
    }
    /* A page that asks for the user name alone: one text field that says it is one. */
    if (!pParts.password && !(pTexts.length == 1 && LooksLikeUserName(pParts.user))) {
        return null;
    }
    var fBeforeUser = !!pParts.user;
    for (i = 0; i < pForm.fields.length; i++) {
        var pOther = pForm.fields[i];
        if (pOther === pParts.user) {
            fBeforeUser = false;
        } else if (FieldKind(pOther) && !SaysFieldSecret(pOther)) {
            pParts.others[pParts.others.length] = { element: pOther, beforeUser: fBeforeUser };
        }
    }
    return pParts;
}

/* What a field held when its form was sent, into pField; false where the draft leaves it out. */
function TakeSetting(pField, pElement, pParts) {
    if (pField.kind == "checkbox") {
        pField.checked = !!pElement.checked;
        return true;
    }
    var sValue = "";
    if (pField.kind == "select") {
        var pOption = pElement.selectedIndex >= 0 && pElement.options ? pElement.options[pElement.selectedIndex] : null;
        sValue = pOption ? "" + (pOption.value || pOption.text) : "";
    } else {
        sValue = "" + pElement.value;
    }
    /* A password typed where the page shows it as text (its "show password" switch). */
    var fPassword = !!pParts.password && sValue == "" + pParts.password.value;
    if (sValue == "" || sValue.length > RECORD_VALUE_MAX || LooksOneTime(sValue) || fPassword) {
        return false;
    }
    pField.value = sValue;
    return true;
}

/* Which form of the page a draft is of: one draft per page and form. */
function DraftKey(pForm, nDocument, pParts) {
    return nDocument + ":" + (pForm.form ? "form" + pForm.index : "page") + (pParts.user ? "u" : "") +
           (pParts.password ? "p" : "");
}

/* The draft of one form of the nDocument-th readable document, or null where it is no login
   form; fSent: with what its other fields hold. */
function DraftOf(pForm, nDocument, fSent) {
    var pParts = FormParts(pForm);
    if (!pParts) {
        return null;
    }
    var pAnchors = FormAnchors(pForm.form, !!pParts.password);
    var pAddress = RecordedAddress(window.location.href);
    var pDraft = { key: DraftKey(pForm, nDocument, pParts) };
    var pFinds = [["user", pParts.user], ["password", pParts.password], ["submit", pParts.submit]];
    for (var k = 0; k < pFinds.length; k++) {
        if (!pFinds[k][1]) {
            continue;
        }
        var pFind = LocatorOf(pFinds[k][1], pForm, pAnchors, pFinds[k][0] == "submit");
        if (!pFind) {
            return null;
        }
        pDraft[pFinds[k][0]] = pFind;
    }
    pDraft.fields = [];
    pDraft.userAt = 0;
    for (var i = 0; i < pParts.others.length; i++) {
        var pElement = pParts.others[i].element;
        var pField = { find: LocatorOf(pElement, pForm, pAnchors, false), kind: FieldKind(pElement) };
        if (!pField.find || (fSent && !TakeSetting(pField, pElement, pParts))) {
            continue;
        }
        pDraft.fields[pDraft.fields.length] = pField;
        if (pParts.others[i].beforeUser) {
            pDraft.userAt++;
        }
    }
    if (nDocument > 0) {
        pDraft.frame = true;
    }
    if (fSent) {
        pDraft.sent = true;
    }
    pDraft.url = pAddress.page.replace(/\?.*$/, "") + "*";
    pDraft.page = pAddress.page;
    if (pAddress.left.length) {
        pDraft.left = pAddress.left;
    }
    pDraft.title = "" + document.title;
    pDraft.at = Math.floor(NowSeconds());
    return pDraft;
}

/* Ids and names that change from one load to the next: long digit runs (counters, times),
   hash-like runs of hexadecimal letters and digits, the ":r1:" of React's generated ids. */
function LooksGenerated(sName) {
    sName = "" + sName;
    if (/[0-9]{3,}|:/.test(sName)) {
        return true;
    }
    var pHex = sName.match(/[0-9a-fA-F]{6,}/g);
    for (var i = 0; pHex && i < pHex.length; i++) {
        if (/[0-9]/.test(pHex[i]) && /[a-fA-F]/.test(pHex[i])) {
            return true;
        }
    }
    return false;
}

/* Classes a page sets and clears as a person works (focus, hover, the mark of a default button,
   a choice, validation): a locator by one of them finds the element only in that moment. */
var STATE_CLASS_WORDS = /(^|[-_])(active|focus|focused|focussed|hover|hovered|default|selected|current|checked|pressed|disabled|enabled|open|opened|closed|expanded|collapsed|visible|hidden|show|shown|loading|loaded|valid|invalid|error|dirty|pristine|touched|untouched|empty|filled|highlight|highlighted)([-_]|$)/i;
var STATE_CLASS_PREFIX = /^(is|has|ng)([-_]|[A-Z])/;

/* The classes of an element a locator may use: none that looks generated or marks a state. */
function StableClasses(pElement) {
    var pClasses = ClassNames(pElement.className);
    var pStable = [];
    for (var i = 0; i < pClasses.length; i++) {
        var sClass = pClasses[i];
        if (IsCssName(sClass) && !LooksGenerated(sClass) && !STATE_CLASS_WORDS.test(sClass) &&
            !STATE_CLASS_PREFIX.test(sClass)) {
            pStable[pStable.length] = sClass;
        }
    }
    return pStable;
}

/* How many elements a find reaches in all the documents a search covers. */
function CountFound(pFind) {
    var pDocuments = ReadableDocuments(window);
    var nFound = 0;
    for (var d = 0; d < pDocuments.length; d++) {
        var pDocument = pDocuments[d].document;
        var pList = null, i;
        if (pFind.type == "id") {
            pList = pDocument.getElementsByTagName("*");
            for (i = 0; i < pList.length; i++) {
                if (pList[i].nodeType == 1 && pList[i].id == pFind.value) {
                    nFound++;
                }
            }
            continue;
        }
        if (pFind.type == "name") {
            pList = pDocument.getElementsByName(pFind.value);
        } else if (pFind.type == "selector") {
            pList = pDocument.querySelectorAll ? pDocument.querySelectorAll(pFind.value) : null;
        }
        nFound += pList ? pList.length : 0;
    }
    return nFound;
}

function FindsExactly(pFind, pElement) {
    try {
        if (pFind.type == "xpath") {
            /* The extension answers with one element: a second one is asked for by position. */
            return window.VelnorIEExt.GetElementByXPath(pFind.value) === pElement &&
                   !window.VelnorIEExt.GetElementByXPath("(" + pFind.value + ")[2]");
        }
        return FindWebElement(pFind) === pElement && CountFound(pFind) == 1;
    } catch (e) {
        return false;
    }
}

function CssString(sText) {
    return "\"" + ("" + sText).replace(/["\\]/g, "\\$&") + "\"";
}

function IsCssName(sText) {
    return /^[a-zA-Z_][a-zA-Z0-9_\-]*$/.test("" + sText);
}

/* An XPath string literal of the text, or null for a text that holds both kinds of quote. */
function XPathString(sText) {
    sText = "" + sText;
    return sText.indexOf("'") < 0 ? "'" + sText + "'" : sText.indexOf("\"") < 0 ? "\"" + sText + "\"" : null;
}

/*
 * How a locator names a form: by its id or name where they do not look generated, by its own
 * classes (selectors), and as the form that holds the password field (XPath: CSS has no means
 * to say it in Internet Explorer). Empty lists for fields outside any form.
 */
function FormAnchors(pFormElement, fHoldsPassword) {
    var pAnchors = { css: [], xpath: [] };
    if (!pFormElement) {
        return pAnchors;
    }
    /* A field named "id" or "name" hides the form's own properties: the attributes say. */
    var sId = pFormElement.getAttribute("id");
    var sName = pFormElement.getAttribute("name");
    if (sId && IsCssName(sId) && !LooksGenerated(sId)) {
        pAnchors.css[pAnchors.css.length] = "form#" + sId;
        pAnchors.xpath[pAnchors.xpath.length] = "//form[@id=" + XPathString(sId) + "]";
    }
    if (typeof sName == "string" && sName && !LooksGenerated(sName) && XPathString(sName)) {
        pAnchors.css[pAnchors.css.length] = "form[name=" + CssString(sName) + "]";
        pAnchors.xpath[pAnchors.xpath.length] = "//form[@name=" + XPathString(sName) + "]";
    }
    var pClasses = StableClasses(pFormElement);
    if (pClasses.length) {
        pAnchors.css[pAnchors.css.length] = "form." + pClasses.join(".");
    }
    if (fHoldsPassword) {
        pAnchors.xpath[pAnchors.xpath.length] = "//form[.//input[@type='password']]";
    }
    return pAnchors;
}

/* A text of a button as a person reads it, or "" where it has none short enough to name it. */
function ButtonText(pElement) {
    var sText = "" + (TagOf(pElement) == "input" ? pElement.getAttribute("value") || "" :
                      pElement.innerText || pElement.textContent || OwnText(pElement));
    sText = sText.replace(/^\s+|\s+$/g, "").replace(/\s+/g, " ");
    return sText.length <= 40 ? sText : "";
}

/*
 * Locators for an element of a form, most telling first. "Own" ones name the element by what it
 * is (its kind of field, its stable classes, its autocomplete, a button's text); "within" ones
 * do the same inside its form (pAnchors). What submits a form is looked for within it first:
 * a page often has another submit control (a search box's) that looks the same. XPaths serve
 * where a document has no selectors (IE7 mode) and in the top-level document only.
 */
function LocatorsOf(pElement, pAnchors, fSubmit, fXPath) {
    var sTag = TagOf(pElement);
    var sType = pElement.getAttribute("type");
    var sAuto = pElement.getAttribute("autocomplete");
    var pClasses = StableClasses(pElement);
    var sText = IsButton(pElement) ? ButtonText(pElement) : "";
    var pOwn = [], pWithin = [], i;
    if (fXPath) {
        var sTypeText = sType ? XPathString(sType) : null;
        var sAutoText = sAuto ? XPathString(sAuto) : null;
        var sTextText = sText ? XPathString(sText) : null;
        if (sTypeText) {
            pOwn[pOwn.length] = "//" + sTag + "[@type=" + sTypeText + "]";
        }
        if (sAutoText) {
            pOwn[pOwn.length] = "//" + sTag + "[@autocomplete=" + sAutoText + "]";
        }
        if (sTextText) {
            pOwn[pOwn.length] = "//" + sTag + (sTypeText ? "[@type=" + sTypeText + "]" : "") +
                                (sTag == "input" ? "[@value=" + sTextText + "]" : "[normalize-space(.)=" + sTextText + "]");
        }
    } else {
        if (sType) {
            pOwn[pOwn.length] = sTag + "[type=" + CssString(sType) + "]";
        }
        if (pClasses.length) {
            pOwn[pOwn.length] = sTag + "." + pClasses.join(".");
        }
        if (sAuto) {
            pOwn[pOwn.length] = sTag + "[autocomplete=" + CssString(sAuto) + "]";
        }
        if (sTag == "input" && sText) {
            pOwn[pOwn.length] = sTag + "[value=" + CssString(sText) + "]";
        }
    }
    var pForms = fXPath ? pAnchors.xpath : pAnchors.css;
    for (var f = 0; f < pForms.length; f++) {
        pWithin[pWithin.length] = pForms[f] + (fXPath ? "//" : " ") + sTag;
        for (i = 0; i < pOwn.length; i++) {
            pWithin[pWithin.length] = pForms[f] + (fXPath ? pOwn[i] : " " + pOwn[i]);
        }
    }
    return fSubmit ? pWithin.concat(pOwn) : pOwn.concat(pWithin);
}

/* An XPath by position: among the elements of its name in its form where a form names it,
   else from the root element down, exact in the top-level document. */
function XPathOf(pElement, pForm, pAnchors) {
    var sTag = TagOf(pElement);
    var pAll = pForm.document.getElementsByTagName(sTag);
    var nPosition = 0;
    for (var i = 0; pForm.form && i < pAll.length; i++) {
        if (IsWithin(pAll[i], pForm.form)) {
            nPosition++;
        }
        if (pAll[i] === pElement) {
            break;
        }
    }
    for (var f = 0; f < pAnchors.xpath.length; f++) {
        var pFind = { type: "xpath", value: "(" + pAnchors.xpath[f] + "//" + sTag + ")[" + nPosition + "]" };
        if (FindsExactly(pFind, pElement)) {
            return pFind.value;
        }
    }
    var sPath = "";
    for (var pNode = pElement; pNode && pNode.nodeType == 1; pNode = pNode.parentNode) {
        var nSame = 1;
        for (var pSibling = pNode.previousSibling; pSibling; pSibling = pSibling.previousSibling) {
            if (pSibling.nodeType == 1 && TagOf(pSibling) == TagOf(pNode)) {
                nSame++;
            }
        }
        sPath = "/" + TagOf(pNode) + "[" + nSame + "]" + sPath;
    }
    return sPath;
}

/* The most stable find that finds exactly pElement, a field of pForm (LoginForms): an id that
   does not look generated, else a name, else a short selector, else a short XPath, else an
   XPath by position. In a frame only the first three serve (XPath searches the top-level
   document); null where none of them does. */
function LocatorOf(pElement, pForm, pAnchors, fSubmit) {
    var fInFrame = pForm.document !== document;
    var pFind;
    if (pElement.id && !LooksGenerated(pElement.id)) {
        pFind = { type: "id", value: "" + pElement.id };
        if (FindsExactly(pFind, pElement)) {
            return pFind;
        }
    }
    var sName = pElement.getAttribute("name");
    if (sName && !LooksGenerated(sName)) {
        pFind = { type: "name", value: "" + sName };
        if (FindsExactly(pFind, pElement)) {
            return pFind;
        }
    }
    var pKinds = pForm.document.querySelector ? [["selector", false]] : [];
    if (!fInFrame) {
        pKinds[pKinds.length] = ["xpath", true];
    }
    for (var k = 0; k < pKinds.length; k++) {
        var pLocators = LocatorsOf(pElement, pAnchors, fSubmit, pKinds[k][1]);
        for (var i = 0; i < pLocators.length; i++) {
            pFind = { type: pKinds[k][0], value: pLocators[i] };
            if (FindsExactly(pFind, pElement)) {
                return pFind;
            }
        }
    }
    return fInFrame ? null : { type: "xpath", value: XPathOf(pElement, pForm, pAnchors) };
}

/* For the checks of the reader and writer against an engine's JSON; the script itself never
   calls them through this object. */
pPage.VelnorSSOJson = { ParseJsonText: ParseJsonText, ReadJsonText: ReadJsonText, IsJsonText: IsJsonText,
                        JsonValueText: JsonValueText };

/* Last: the reader's patterns above must be in place before the store is read. */
try {
    StartVelnorSSO();
} catch (e) {
    trace("content -> stopped: " + ErrorText(e));
}

})(this);
