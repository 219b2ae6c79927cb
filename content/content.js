/*
 * Velnor SSO content script.
 *
 * Runs in the top-level window of every completed page, in the page's own script engine,
 * right after the extension has published itself as window.VelnorIEExt. It reads the SSO
 * templates from the template store, hands the HTTP Basic credentials of all templates to the
 * extension, and signs on to the page: for each template whose url and title patterns match,
 * it finds the template's elements (in the page and its frames) and carries out their actions,
 * waits where a "delay" asks for it, retries a failed template on a timer and drops a template
 * from the store once it has run or has no retries left.
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

/* ==== Store write-back ==== */

function UpdateGlobalTemplates() {
    try {
        window.VelnorIEExt.Templates = StringifyJson(VelnorSSOTemplates);
    } catch (e) {
        /* The store refuses a text that does not fit; what it held stays. */
        trace("content -> UpdateGlobalTemplates: " + ErrorText(e));
    }
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

/* getElementsByClassName for documents without it (IE7 and IE8 modes): the first element, in
   document order, that has every class of the list. IE7 mode has no "class" attribute to read
   (getAttribute("class") is null there); className is the same in every mode. */
function FindByClassName(pDocument, sClasses) {
    var pWanted = ClassNames(sClasses);
    if (pWanted.length == 0) {
        return null;
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
            return pElement;
        }
    }
    return null;
}

function FindInDocument(pDef, pWindow) {
    var pDocument = pWindow.document;
    var pList;
    switch (pDef.type) {
        case "id":
            return FindById(pDocument, pDef.value);
        case "name":
            pList = pDocument.getElementsByName(pDef.value);
            return pList.length > 0 ? pList[0] : null;
        case "class":
            if (!pDocument.getElementsByClassName) {
                return FindByClassName(pDocument, pDef.value);
            }
            pList = pDocument.getElementsByClassName(pDef.value);
            return pList.length > 0 ? pList[0] : null;
        case "xpath":
            /* The extension searches the top-level document, whatever window is searched. */
            return window.VelnorIEExt.GetElementByXPath(pDef.value);
        case "selector":
            if (!pDocument.querySelector) {
                trace("content -> FindWebElement: this document has no CSS selectors: " + pDef.value);
                return null;
            }
            return pDocument.querySelector(pDef.value);
        default:
            return null;
    }
}

function FindWebElement(pDef, pWindow) {
    if (pWindow == undefined) {
        pWindow = window;
    }
    try {
        var pElement = FindInDocument(pDef, pWindow);
        if (pElement) {
            return pElement;
        }
        /* Depth first: this window's document, then each frame with its own frames. */
        for (var i = 0; pWindow.frames && i < pWindow.frames.length; i++) {
            var pFrame = pWindow.frames[i];
            if (pFrame == undefined) {
                continue;
            }
            pElement = FindWebElement(pDef, pFrame);
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
    var pElement = FindWebElement(pFind);
    if (pFind && !pElement) {
        trace("content -> CheckTemplate: find element failed");
        return "failed";
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
    for (var i = pTemplate.startElement; i < pTemplate.elements.length; i++) {
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
    pTemplate.startElement = 0;
    pTemplate.startAction = 0;

    if (sOutcome == "done") {
        trace("content -> CheckTemplate: template excuted");
        RemoveTemplate(pTemplate.ID, pTemplate);
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

/* ==== Load pass and start ==== */

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
    while (i < pTemplates.length) {
        var pTemplate = pTemplates[i];
        if (!IsWellFormedTemplate(pTemplate)) {
            trace("content -> OnTemplatesLoaded: template " + (i + 1) + " is malformed, passed over");
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
}

function ParseJson(sText) {
    if (HasNativeJson()) {
        return JSON.parse(sText);
    }
    return ParseJsonText("" + sText);
}

function StartVelnorSSO() {
    LogEnabledTime = window.VelnorIEExt.DebugTime;
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
        /* An escape can spell either name too. */
        sText = "" + sText;
        fPlainText = sText.indexOf("toString") < 0 && sText.indexOf("valueOf") < 0 && sText.indexOf("\\u") < 0;
    }
    RunLoadPass(VelnorSSOTemplates, fPlainText);
}

/* ==== JSON reader for pages without JSON ==== */

/*
 * Any page can write the store, so its text reaches eval only once it is known to be JSON as
 * the reader at the end of this section reads it: the same grammar, the same refusals (control
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
                if (sText.charCodeAt(nAt) <= 32) {
                    SkipSpace();
                }
                c = sText.charAt(nAt++);
                if (c == "}") {
                    return pObject;
                }
                if (c != ",") {
                    nAt--;
                    Fail("comma or } expected");
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
                if (sText.charCodeAt(nAt) <= 32) {
                    SkipSpace();
                }
                c = sText.charAt(nAt++);
                if (c == "]") {
                    return pArray;
                }
                if (c != ",") {
                    nAt--;
                    Fail("comma or ] expected");
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
