/*
 * A test double of an Internet Explorer page for the legacy script engine, in ECMAScript 3: the
 * window, document and form elements that the content script uses, in one of three document
 * modes, each with its own gaps and quirks:
 *
 *   IE7  no JSON, querySelector, getElementsByClassName or createEvent; getElementById also
 *        answers with the first element whose name matches; getAttribute("class") is null;
 *        getElementsByTagName("*") lists comments too; fireEvent knows only the events of
 *        that mode and throws "Invalid argument." for any other name.
 *   IE8  as IE7, but with JSON, querySelector and a getElementById that matches ids only.
 *   IE9  JSON, querySelector, getElementsByClassName, createEvent and dispatchEvent.
 *
 * The engine's own JSON is absent in the script host; in IE8 and IE9 modes the double gives
 * the page one (recording that it was used). Everything the page sees happen (values typed,
 * clicks, events, submits) is recorded in the order it happened. Listeners go on elements and
 * the document with attachEvent (no capture; submit does not bubble) and in IE9 mode also with
 * addEventListener (captured or bubbling). XPath is evaluated by MSXML on an XML copy of the
 * document, as the extension's own lookup falls back to. Time is virtual: setTimeout queues,
 * and LegacyRunTimers plays the queue in order.
 */

var LegacyClock = { now: 0, queue: [], seq: 0 };

function setTimeout(fCallback, nMilliseconds) {
    var nDelay = Number(nMilliseconds);
    if (!(nDelay > 0)) {
        nDelay = 0;
    }
    LegacyClock.seq++;
    LegacyClock.queue[LegacyClock.queue.length] = { due: LegacyClock.now + nDelay, seq: LegacyClock.seq, run: fCallback };
    return LegacyClock.seq;
}

/* Runs the queued callbacks in time order up to nUntil milliseconds, fAfter (when given) after
   each; returns how many ran. */
function LegacyRunTimers(nUntil, pErrors, fAfter) {
    var nRan = 0;
    for (;;) {
        var nNext = -1;
        for (var i = 0; i < LegacyClock.queue.length; i++) {
            var pEntry = LegacyClock.queue[i];
            if (nNext < 0 || pEntry.due < LegacyClock.queue[nNext].due ||
                (pEntry.due == LegacyClock.queue[nNext].due && pEntry.seq < LegacyClock.queue[nNext].seq)) {
                nNext = i;
            }
        }
        if (nNext < 0 || LegacyClock.queue[nNext].due > nUntil) {
            return nRan;
        }
        var pTimer = LegacyClock.queue[nNext];
        LegacyClock.queue.splice(nNext, 1);
        LegacyClock.now = pTimer.due;
        nRan++;
        try {
            pTimer.run();
        } catch (e) {
            /* A script error in a timer callback: the page goes on, the test notes it. */
            pErrors[pErrors.length] = "timer at " + pTimer.due + " ms: " + (e.message || e);
        }
        if (fAfter) {
            fAfter();
        }
    }
}

var LEGACY_FIRE_EVENTS = {
    IE7: ["onblur", "onchange", "onclick", "onfocus", "onkeydown", "onkeypress", "onkeyup", "onpropertychange",
          "onreset", "onselect", "onsubmit", "onmousedown", "onmouseup"],
    IE8: ["onblur", "onchange", "onclick", "onfocus", "onkeydown", "onkeypress", "onkeyup", "onpropertychange",
          "onreset", "onselect", "onsubmit", "onmousedown", "onmouseup", "onfocusin", "onfocusout"]
};

function LegacyContains(pList, sItem) {
    for (var i = 0; i < pList.length; i++) {
        if (pList[i] == sItem) {
            return true;
        }
    }
    return false;
}

/* One element. pSpec: { tag, id, name, "class", type, value, checked, disabled, options: [[value, text], ...],
   text (its own text), hidden (not laid out: no size), autocomplete, placeholder } */
function LegacyElement(pPage, pSpec) {
    this.page = pPage;
    this.nodeType = 1;
    this.tagName = pSpec.tag.toUpperCase();
    this.id = pSpec.id || "";
    this.name = pSpec.name || "";
    this.className = pSpec["class"] || "";
    this.type = pSpec.type || "";
    this.value = pSpec.value || "";
    this.checked = !!pSpec.checked;
    this.disabled = !!pSpec.disabled;
    this.autocomplete = pSpec.autocomplete;
    this.placeholder = pSpec.placeholder;
    this.valueAttribute = pSpec.value;
    this.parent = null;
    this.parentNode = null;
    this.previousSibling = null;
    this.form = null;
    this.children = [];
    this.childNodes = pSpec.text !== undefined ? [{ nodeType: 3, nodeValue: pSpec.text }] : [];
    this.Show(!pSpec.hidden);
    if (pSpec.options) {
        this.options = [];
        for (var i = 0; i < pSpec.options.length; i++) {
            this.options[i] = { value: pSpec.options[i][0], text: pSpec.options[i][1] };
        }
        this.selectedIndex = 0;
        this.value = this.options[0].value;
        this.initialValue = this.value;
    }
}

/* Laid out (a size, as IE gives offsetWidth and offsetHeight) or not (display: none). */
LegacyElement.prototype.Show = function (fShown) {
    this.offsetWidth = fShown ? 120 : 0;
    this.offsetHeight = fShown ? 20 : 0;
};

LegacyElement.prototype.Label = function () {
    return this.id || this.name || this.tagName.toLowerCase();
};

/* What a drop-down list shows: the option chosen by index, unless script set its value. */
LegacyElement.prototype.Chosen = function () {
    if (this.value !== this.initialValue) {
        return this.value;
    }
    return this.options[this.selectedIndex].value;
};

/* What an event handler would read of the element. */
LegacyElement.prototype.Shown = function () {
    if (this.type == "checkbox") {
        return this.checked;
    }
    return this.options ? this.Chosen() : this.value;
};

LegacyElement.prototype.getAttribute = function (sName) {
    if (sName == "class") {
        return this.page.mode == "IE7" ? null : this.className;
    }
    if (sName == "className") {
        return this.page.mode == "IE7" ? this.className : null;
    }
    var pValue = this[sName];
    return pValue === undefined || pValue === "" ? null : pValue;
};

LegacyElement.prototype.click = function () {
    if (this.disabled) {
        return;   /* a disabled element ignores clicks */
    }
    if (this.type == "checkbox") {
        this.checked = !this.checked;
    }
    this.page.Record("click:" + this.Label());
    this.page.Dispatch(this, "click", true);
    if (this.type == "submit") {
        var pForm = this.parent;
        while (pForm && pForm.tagName != "FORM") {
            pForm = pForm.parent;
        }
        if (pForm) {
            this.page.Record("submit:" + pForm.Label());
            /* Only IE9 mode lets a submit event bubble. */
            this.page.Dispatch(pForm, "submit", this.page.mode == "IE9");
        }
    }
};

/* A listener of an element or of the document: attachEvent in every mode, addEventListener in
   IE9 mode. */
function LegacyListen(pTarget, sType, fHandler, fCapture) {
    pTarget.listeners = pTarget.listeners || [];
    pTarget.listeners[pTarget.listeners.length] = { type: sType, handler: fHandler, capture: fCapture };
}

function LegacyAttachEvent(sName, fHandler) {
    LegacyListen(this, sName.substring(2), fHandler, false);
    return true;
}

function LegacyAddEventListener(sType, fHandler, fCapture) {
    LegacyListen(this, sType, fHandler, !!fCapture);
}

LegacyElement.prototype.attachEvent = LegacyAttachEvent;

LegacyElement.prototype.fireEvent = function (sName) {
    var pKnown = LEGACY_FIRE_EVENTS[this.page.mode];
    if (!pKnown || !LegacyContains(pKnown, sName)) {
        throw new Error("Invalid argument.");
    }
    this.page.Record(sName.substring(2) + ":" + this.Label() + "=" + this.Shown());
    return true;
};

function LegacyEvent() {
    this.type = "";
}

LegacyEvent.prototype.initEvent = function (sType, fBubbles, fCancelable) {
    this.type = sType;
    this.bubbles = fBubbles;
    this.cancelable = fCancelable;
};

function LegacyDispatchEvent(pEvent) {
    this.page.Record(pEvent.type + ":" + this.Label() + "=" + this.Shown());
    return true;
}

/* A document made of element specs; { children: [...] } nests. Comments are { comment: "text" }. */
function LegacyDocument(pPage, pSpecs) {
    this.page = pPage;
    this.all = [];
    this.nodes = [];
    this.topNodes = [];
    this.AddChildren(null, pSpecs);
    if (pPage.mode != "IE7") {
        this.querySelector = LegacyQuerySelector;
        this.querySelectorAll = LegacyQuerySelectorAll;
    }
    if (pPage.mode == "IE9") {
        this.getElementsByClassName = LegacyGetElementsByClassName;
        this.createEvent = function (sKind) {
            return new LegacyEvent();
        };
        this.addEventListener = LegacyAddEventListener;
    }
}

LegacyDocument.prototype.attachEvent = LegacyAttachEvent;

/* Shows or hides an element and everything in it, as a style on it does. */
LegacyDocument.prototype.ShowAll = function (pElement, fShown) {
    pElement.Show(fShown);
    for (var i = 0; i < pElement.children.length; i++) {
        this.ShowAll(pElement.children[i], fShown);
    }
};

/* The element an XPath selects, or null: MSXML evaluates it on the document written as XML,
   each element carrying its attributes and its place in the document. */
LegacyDocument.prototype.SelectXPath = function (sExpression) {
    var pXml = [];
    for (var i = 0; i < this.topNodes.length; i++) {
        LegacyXml(this, this.topNodes[i], pXml);
    }
    var pDocument = new ActiveXObject("Msxml2.DOMDocument.3.0");
    pDocument.async = false;
    pDocument.setProperty("SelectionLanguage", "XPath");
    if (!pDocument.loadXML("<root>" + pXml.join("") + "</root>")) {
        return null;
    }
    var pNode = null;
    try {
        pNode = pDocument.selectSingleNode(sExpression);
    } catch (e) {
        return null;
    }
    return pNode && pNode.nodeType == 1 && pNode.getAttribute("velnor-at") !== null
        ? this.all[Number(pNode.getAttribute("velnor-at"))] : null;
};

function LegacyXmlText(sText) {
    return ("" + sText).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;").replace(/"/g, "&quot;");
}

function LegacyXml(pDocument, pNode, pXml) {
    if (pNode.nodeType == 3) {
        pXml[pXml.length] = LegacyXmlText(pNode.nodeValue);
        return;
    }
    if (pNode.nodeType != 1) {
        return;
    }
    var sTag = pNode.tagName.toLowerCase();
    var pAttributes = [["id", pNode.id], ["name", pNode.name], ["class", pNode.className], ["type", pNode.type],
                       ["value", pNode.valueAttribute], ["autocomplete", pNode.autocomplete]];
    var sOpen = "<" + sTag;
    for (var i = 0; i < pAttributes.length; i++) {
        if (pAttributes[i][1]) {
            sOpen += " " + pAttributes[i][0] + "=\"" + LegacyXmlText(pAttributes[i][1]) + "\"";
        }
    }
    for (var j = 0; j < pDocument.all.length; j++) {
        if (pDocument.all[j] === pNode) {
            sOpen += " velnor-at=\"" + j + "\"";
        }
    }
    pXml[pXml.length] = sOpen + ">";
    for (var k = 0; k < pNode.childNodes.length; k++) {
        LegacyXml(pDocument, pNode.childNodes[k], pXml);
    }
    pXml[pXml.length] = "</" + sTag + ">";
}

LegacyDocument.prototype.AddChildren = function (pParent, pSpecs) {
    for (var i = 0; i < pSpecs.length; i++) {
        this.Add(pParent, pSpecs[i]);
    }
};

LegacyDocument.prototype.Add = function (pParent, pSpec) {
    if (pSpec.comment !== undefined) {
        this.nodes[this.nodes.length] = { nodeType: 8, nodeValue: pSpec.comment };
        return null;
    }
    var pElement = new LegacyElement(this.page, pSpec);
    pElement.ownerDocument = this;
    if (this.page.mode == "IE9") {
        pElement.dispatchEvent = LegacyDispatchEvent;
        pElement.addEventListener = LegacyAddEventListener;
    }
    pElement.parent = pParent;
    pElement.parentNode = pParent;
    var pSiblings = pParent ? pParent.childNodes : this.topNodes;
    pElement.previousSibling = pSiblings.length > 0 ? pSiblings[pSiblings.length - 1] : null;
    pSiblings[pSiblings.length] = pElement;
    for (var pForm = pParent; pForm; pForm = pForm.parent) {
        if (pForm.tagName == "FORM") {
            pElement.form = pForm;
            break;
        }
    }
    if (pParent) {
        pParent.children[pParent.children.length] = pElement;
    }
    this.all[this.all.length] = pElement;
    this.nodes[this.nodes.length] = pElement;
    if (pSpec.children) {
        this.AddChildren(pElement, pSpec.children);
    }
    return pElement;
};

LegacyDocument.prototype.getElementById = function (sId) {
    for (var i = 0; i < this.all.length; i++) {
        var pElement = this.all[i];
        if (pElement.id == sId) {
            return pElement;
        }
        if (this.page.mode == "IE7" && (pElement.id.toLowerCase() == ("" + sId).toLowerCase() || pElement.name == sId)) {
            return pElement;
        }
    }
    return null;
};

LegacyDocument.prototype.getElementsByName = function (sName) {
    var pFound = [];
    for (var i = 0; i < this.all.length; i++) {
        if (this.all[i].name == sName) {
            pFound[pFound.length] = this.all[i];
        }
    }
    return pFound;
};

LegacyDocument.prototype.getElementsByTagName = function (sTag) {
    var pFound = [];
    var pFrom = (sTag == "*" && this.page.mode != "IE9") ? this.nodes : this.all;
    for (var i = 0; i < pFrom.length; i++) {
        if (sTag == "*" || (pFrom[i].tagName && pFrom[i].tagName == sTag.toUpperCase())) {
            pFound[pFound.length] = pFrom[i];
        }
    }
    return pFound;
};

LegacyDocument.prototype.ById = function (sId) {
    for (var i = 0; i < this.all.length; i++) {
        if (this.all[i].id == sId) {
            return this.all[i];
        }
    }
    return null;
};

function LegacyHasClasses(pElement, sClasses) {
    var pWanted = ("" + sClasses).split(" ");
    var sHave = " " + pElement.className + " ";
    for (var i = 0; i < pWanted.length; i++) {
        if (pWanted[i] != "" && sHave.indexOf(" " + pWanted[i] + " ") < 0) {
            return false;
        }
    }
    return true;
}

function LegacyGetElementsByClassName(sClasses) {
    var pFound = [];
    for (var i = 0; i < this.all.length; i++) {
        if (("" + sClasses) != "" && LegacyHasClasses(this.all[i], sClasses)) {
            pFound[pFound.length] = this.all[i];
        }
    }
    return pFound;
}

/* A compound selector: tag, #id, .class and [attr=value] parts, without combinators. */
function LegacyMatchesCompound(pElement, sCompound) {
    var pParts = sCompound.match(/^[a-zA-Z]+|#[\w-]+|\.[\w-]+|\[[\w-]+=[^\]]*\]/g);
    if (!pParts || pParts.join("") != sCompound) {
        throw new Error("Invalid argument.");
    }
    for (var i = 0; i < pParts.length; i++) {
        var sPart = pParts[i];
        var c = sPart.charAt(0);
        if (c == "#" && pElement.id != sPart.substring(1)) {
            return false;
        }
        if (c == "." && !LegacyHasClasses(pElement, sPart.substring(1))) {
            return false;
        }
        if (c == "[") {
            var pPair = sPart.substring(1, sPart.length - 1).split("=");
            var sWanted = pPair[1].replace(/^["']|["']$/g, "");
            if ("" + pElement.getAttribute(pPair[0]) != sWanted) {
                return false;
            }
        }
        if (c != "#" && c != "." && c != "[" && pElement.tagName != sPart.toUpperCase()) {
            return false;
        }
    }
    return true;
}

/* Compound selectors joined by the descendant combinator. */
function LegacyQuerySelector(sSelector) {
    var pAll = LegacyQuerySelectorAll.call(this, sSelector);
    return pAll.length > 0 ? pAll[0] : null;
}

function LegacyQuerySelectorAll(sSelector) {
    var pFound = [];
    var pCompounds = ("" + sSelector).replace(/^\s+|\s+$/g, "").split(/\s+/);
    for (var i = 0; i < this.all.length; i++) {
        var pElement = this.all[i];
        var n = pCompounds.length - 1;
        if (!LegacyMatchesCompound(pElement, pCompounds[n])) {
            continue;
        }
        var pAncestor = pElement.parent;
        n--;
        while (n >= 0 && pAncestor) {
            if (LegacyMatchesCompound(pAncestor, pCompounds[n])) {
                n--;
            }
            pAncestor = pAncestor.parent;
        }
        if (n < 0) {
            pFound[pFound.length] = pElement;
        }
    }
    return pFound;
}

/* A page: its window (with frames) and document in one document mode. */
function LegacyPage(sMode, sUrl, sTitle, pSpecs) {
    this.mode = sMode;
    this.log = [];
    this.document = new LegacyDocument(this, pSpecs);
    this.document.title = sTitle;
    this.window = { location: { href: sUrl }, document: this.document, frames: [] };
}

LegacyPage.prototype.Record = function (sWhat) {
    this.log[this.log.length] = sWhat;
};

/* An event of the page's own (a click, a form's submit) to its listeners: captured from the
   document down, at the target, then bubbling up where it bubbles. */
LegacyPage.prototype.Dispatch = function (pTarget, sType, fBubbles) {
    var pEvent = { type: sType, target: pTarget, srcElement: pTarget };
    var pPath = [this.document];
    for (var pNode = pTarget.parentNode; pNode; pNode = pNode.parentNode) {
        pPath.splice(1, 0, pNode);
    }
    var i;
    for (i = 0; i < pPath.length; i++) {
        LegacyNotify(pPath[i], pEvent, true);
    }
    LegacyNotify(pTarget, pEvent, null);
    for (i = pPath.length - 1; fBubbles && i >= 0; i--) {
        LegacyNotify(pPath[i], pEvent, false);
    }
};

/* fCapture: captured listeners only, bubbling ones only, or null for both (at the target). */
function LegacyNotify(pNode, pEvent, fCapture) {
    var pListeners = pNode.listeners || [];
    for (var i = 0; i < pListeners.length; i++) {
        if (pListeners[i].type == pEvent.type && (fCapture === null || pListeners[i].capture == fCapture)) {
            pListeners[i].handler.call(pNode, pEvent);
        }
    }
}

/* A frame of this page, with its own document; an unreadable frame has a null document, as a
   frame from another site throws when its document is touched. */
LegacyPage.prototype.AddFrame = function (pSpecs) {
    var pFrame = { document: pSpecs ? new LegacyDocument(this, pSpecs) : null, frames: [] };
    this.window.frames[this.window.frames.length] = pFrame;
    return pFrame;
};

/* The login form of the content-script suite's fixture. */
function LegacyLoginForm() {
    return [
        { tag: "form", id: "login", children: [
            { tag: "input", id: "user", name: "user", "class": "field login-user", type: "text" },
            { comment: " the password " },
            { tag: "input", id: "pass", name: "pass", "class": "field", type: "password" },
            { tag: "select", id: "country", name: "country",
              options: [["", "choose"], ["1", "One"], ["2", "Two"], ["de", "Germany"], ["2b", "2"]] },
            { tag: "input", id: "remember", name: "remember", type: "checkbox", value: "yes" },
            { tag: "input", id: "terms", name: "terms", type: "checkbox", value: "yes", checked: true },
            { tag: "button", id: "locked", type: "button", disabled: true },
            { tag: "input", id: "go", type: "submit", value: "Sign in" }
        ] },
        { tag: "p", children: [{ tag: "span", "class": "note" }, { tag: "span", "class": "note" }] }
    ];
}

/* The engine's JSON in IE8 and IE9 modes (the script host has none): the content script's own
   reader and writer stand in for it, counting calls, so that a test can tell which was used. */
var LegacyJsonCalls = 0;
var LegacyEngineJson = {
    parse: function (sText) {
        LegacyJsonCalls++;
        return VelnorSSOJson.ParseJsonText("" + sText);
    },
    stringify: function (pValue) {
        LegacyJsonCalls++;
        return VelnorSSOJson.JsonValueText(pValue);
    }
};
