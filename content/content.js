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
 * Written for Internet Explorer's page script engine: ECMAScript 3 syntax with JSON, nothing
 * later. Single-byte ASCII text only (the extension widens it with the ANSI code page).
 *
 * The script always completes: the extension runs it again every second until it does, so a
 * script error here would repeat forever. Text that is not JSON, a malformed template or an
 * action that throws is traced and passed over; the other templates still run.
 */

var LogEnabledTime = 0;
var VelnorSSOTemplates = [];

function trace(sText) {
    if (LogEnabledTime && typeof console != "undefined" && console && console.log) {
        console.log(sText);
    }
}

function UpdateGlobalTemplates() {
    try {
        window.VelnorIEExt.Templates = JSON.stringify(VelnorSSOTemplates);
    } catch (e) {
        /* The store refuses a text that does not fit; what it held stays. */
        trace("content -> UpdateGlobalTemplates: " + ErrorText(e));
    }
}

function ErrorText(e) {
    if (e && e.message) {
        return e.message;
    }
    return "" + e;
}

function SendElementEvent(pElement, sEvent) {
    if ("createEvent" in document) {
        var pEvent = document.createEvent("HTMLEvents");
        pEvent.initEvent(sEvent, true, false);
        pElement.dispatchEvent(pEvent);
    } else {
        pElement.fireEvent("on" + sEvent);
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

function FindInDocument(pDef, pWindow) {
    var pDocument = pWindow.document;
    var pList;
    switch (pDef.type) {
        case "id":
            return pDocument.getElementById(pDef.value);
        case "name":
            pList = pDocument.getElementsByName(pDef.value);
            return pList.length > 0 ? pList[0] : null;
        case "class":
            pList = pDocument.getElementsByClassName(pDef.value);
            return pList.length > 0 ? pList[0] : null;
        case "xpath":
            /* The extension searches the top-level document, whatever window is searched. */
            return window.VelnorIEExt.GetElementByXPath(pDef.value);
        case "selector":
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

function SelectOption(pElement, value, fByText) {
    var pOptions = pElement.options;
    for (var i = 0; pOptions && i < pOptions.length; i++) {
        if (pOptions[i].text == value || (!fByText && pOptions[i].value == value)) {
            pElement.selectedIndex = i;
            return;
        }
    }
}

function PerformAction(pAction, pElement) {
    switch (pAction.type) {
        case "text":
            if (!pElement) {
                return false;
            }
            SetElementValue(pElement, pAction.value);
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
            return true;
        case "checkbox":
            if (!pElement || pAction.selected == undefined) {
                return false;
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

function RemoveTemplate(nTemplateID) {
    for (var i = 0; i < VelnorSSOTemplates.length; i++) {
        var pTemplate = VelnorSSOTemplates[i];
        trace("content -> RemoveTemplate: check template: " + nTemplateID + ", " + (pTemplate ? pTemplate.ID : pTemplate));
        if (pTemplate && pTemplate.ID == nTemplateID) {
            VelnorSSOTemplates.splice(i, 1);
            UpdateGlobalTemplates();
            return true;
        }
    }
    trace("content -> RemoveTemplate: template not found " + nTemplateID);
    return false;
}

/* The masked pattern rule: equal texts match; otherwise only the part of the pattern before
   its first "*" counts, and the text must start with it. Case-sensitive. */
function CompareMaskedString(sTextA, sTextB) {
    sTextA = "" + sTextA;
    sTextB = "" + sTextB;
    trace("content -> CompareMaskedString: " + sTextA + ", " + sTextB);
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
        trace("content -> CheckTemplate: action def: " + pAction + "[ " + (pAction ? pAction.type + ", " + pAction.value : "") + "]");
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

/* Checks and runs one template; reports whether it dropped the template. */
function CheckTemplate(pTemplate) {
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
    trace("content -> CheckTemplate: check template#" + pTemplate.ID + " - " + pTemplate.url + ", " + pTemplate.title +
          ", retryInterval:" + pTemplate.retryInterval + ", maxRetries:" + pTemplate.maxRetries + ", " + window.location.href);
    if (!CompareMaskedString(pTemplate.url, window.location.href)) {
        return false;
    }
    if (pTemplate.title != undefined && !CompareMaskedString(pTemplate.title, document.title)) {
        return false;
    }
    trace("content -> CheckTemplate: template found, proceeding with login, elements: " + pTemplate.elements.length);

    var sOutcome = "done";
    for (var i = pTemplate.startElement; i < pTemplate.elements.length; i++) {
        sOutcome = RunElementStep(pTemplate, i, pTemplate.startAction);
        if (sOutcome == "delayed") {
            return false;
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
        RemoveTemplate(pTemplate.ID);
        return true;
    }
    trace("content -> CheckTemplate: Template.retryInterval = " + pTemplate.retryInterval);
    if (pTemplate.maxRetries > 0 || pTemplate.maxRetries == -1) {
        DeferCheck(pTemplate, pTemplate.retryInterval * 1000);
        if (pTemplate.maxRetries != -1) {
            pTemplate.maxRetries = pTemplate.maxRetries - 1;
        }
        return false;
    }
    RemoveTemplate(pTemplate.ID);
    return true;
}

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
    trace("content -> OnTemplatesLoaded: " + pTemplates);
    if (!pTemplates) {
        return;
    }
    var sCreds = "";
    /* The trace shows the records with their passwords masked. */
    var sTracedCreds = "";
    trace("content -> OnTemplatesLoaded: templates count = " + pTemplates.length);
    var i = 0;
    while (i < pTemplates.length) {
        var pTemplate = pTemplates[i];
        if (!IsWellFormedTemplate(pTemplate)) {
            trace("content -> OnTemplatesLoaded: template " + (i + 1) + " is malformed, passed over");
            i++;
            continue;
        }
        pTemplate.ID = i + 1;
        for (var s = 0; s < pTemplate.elements.length; s++) {
            var pActions = pTemplate.elements[s].actions;
            for (var a = 0; pActions && a < pActions.length; a++) {
                if (pActions[a].type == "httpBasicAuth") {
                    if (sCreds != "") {
                        sCreds += "\n";
                        sTracedCreds += "\n";
                    }
                    sCreds += pTemplate.url + "\r" + pActions[a].username + "\r" + pActions[a].password;
                    sTracedCreds += pTemplate.url + "\r" + pActions[a].username + "\r" + "*****";
                }
            }
        }
        var fDropped = false;
        try {
            fDropped = CheckTemplate(pTemplate);
        } catch (e) {
            trace("content -> OnTemplatesLoaded: template " + pTemplate.ID + " failed: " + ErrorText(e));
        }
        if (!fDropped) {
            i++;
        }
    }
    trace("content -> OnTemplatesLoaded: " + sTracedCreds);
    if (sCreds != "") {
        window.VelnorIEExt.AuthCreds = sCreds;
    }
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
    VelnorSSOTemplates = [];
    if (sText != null && sText != "") {
        try {
            VelnorSSOTemplates = JSON.parse(sText);
        } catch (e) {
            /* Nothing is checked and nothing is written: the store keeps its text. */
            trace("content -> templates are not valid JSON: " + ErrorText(e));
            return;
        }
    }
    OnTemplatesLoaded(VelnorSSOTemplates);
}

try {
    StartVelnorSSO();
} catch (e) {
    trace("content -> stopped: " + ErrorText(e));
}
