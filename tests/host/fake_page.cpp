// The fake page: documents, windows and the HTML DOM.
#include "host/fake_com.h"

#include "host/browser_host.h"

namespace host {

// ===================================================================== window

struct FakeWindow::Object {
    IHTMLWindow2 window;
    IDispatchEx dispatchEx;
    RefCount count;
    FakeWindow* state = nullptr;

    ULONG AddRef() { return count.Add(); }
    ULONG Release() {
        ULONG remaining = 0;
        if (count.Drop(&remaining)) delete this;
        return remaining;
    }
    HRESULT QueryInterface(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, IID_IHTMLFramesCollection2) || IsEqualIID(iid, IID_IHTMLWindow2))
            *out = &window;
        else if (IsEqualIID(iid, IID_IDispatchEx) && state && state->offerDispatchEx)
            *out = &dispatchEx;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
};

namespace {

using WindowObject = FakeWindow::Object;
WindowObject* FromWindow(IHTMLWindow2* self) { return HOST_IMPL_FROM(WindowObject, window, self); }
WindowObject* FromDispatchEx(IDispatchEx* self) { return HOST_IMPL_FROM(WindowObject, dispatchEx, self); }

HOST_IUNKNOWN(Window, WindowObject, window, IHTMLWindow2)

HRESULT STDMETHODCALLTYPE Window_execScript(IHTMLWindow2* self, BSTR code, BSTR language, VARIANT* result) {
    FakeWindow* state = FromWindow(self)->state;
    if (!state) return E_FAIL;
    if (state->keepScripts)
        state->scripts.push_back({std::wstring(code ? code : L"", code ? SysStringLen(code) : 0),
                                  std::wstring(language ? language : L"")});
    if (!state->answerPlan.empty()) {
        const bool answer = state->answerPlan.front();
        state->answerPlan.erase(state->answerPlan.begin());
        if (answer && result) VariantInit(result);
        return state->execScriptResult;
    }
    if (!state->answerScripts) return state->execScriptResult;
    if (state->unansweredScripts > 0) {
        --state->unansweredScripts;
        return state->execScriptResult;
    }
    // A script of statements gives an empty result.
    if (result) VariantInit(result);
    return state->execScriptResult;
}

const IHTMLWindow2Vtbl g_windowVtbl = [] {
    IHTMLWindow2Vtbl v = MakeVtable<IHTMLWindow2Vtbl>();
    RegisterVtable(&g_windowVtbl, "IHTMLWindow2");
    HOST_SET_IUNKNOWN(v, Window);
    v.execScript = Window_execScript;
    return v;
}();

HOST_IUNKNOWN(DispatchEx, WindowObject, dispatchEx, IDispatchEx)

HRESULT STDMETHODCALLTYPE DispatchEx_GetDispID(IDispatchEx* self, BSTR name, DWORD flags, DISPID* id) {
    FakeWindow* state = FromDispatchEx(self)->state;
    if (!state) return E_FAIL;
    state->getDispIdFlags.push_back(flags);
    if (FAILED(state->getDispIdResult)) return state->getDispIdResult;
    const std::wstring key(name ? name : L"");
    for (size_t i = 0; i < state->propertyNames.size(); ++i)
        if (state->propertyNames[i] == key) {
            *id = static_cast<DISPID>(1000 + i);
            return S_OK;
        }
    if (!(flags & fdexNameEnsure)) return DISP_E_UNKNOWNNAME;
    state->propertyNames.push_back(key);
    *id = static_cast<DISPID>(1000 + state->propertyNames.size() - 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchEx_Invoke(IDispatchEx* self, DISPID id, REFIID iid, LCID locale, WORD flags,
                                            DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                            UINT* argumentError) {
    FakeWindow* state = FromDispatchEx(self)->state;
    if (!state) return E_FAIL;
    state->invokes.push_back({id, IsEqualIID(iid, IID_NULL) != 0, locale, flags, params ? params->cArgs : 0,
                              params ? params->cNamedArgs : 0, result == nullptr, exception == nullptr,
                              argumentError == nullptr});
    if (FAILED(state->invokeResult)) return state->invokeResult;
    const size_t index = static_cast<size_t>(id - 1000);
    if (id < 1000 || index >= state->propertyNames.size()) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_PROPERTYPUT) && params && params->cArgs == 1)
        state->properties[state->propertyNames[index]] = Value(params->rgvarg[0]);
    return S_OK;
}

const IDispatchExVtbl g_dispatchExVtbl = [] {
    IDispatchExVtbl v = MakeVtable<IDispatchExVtbl>();
    RegisterVtable(&g_dispatchExVtbl, "IDispatchEx (window)");
    HOST_SET_IUNKNOWN(v, DispatchEx);
    v.GetDispID = DispatchEx_GetDispID;
    v.Invoke = DispatchEx_Invoke;
    return v;
}();

}  // namespace

FakeWindow::FakeWindow() : m_object(new Object) {
    m_object->window.lpVtbl = const_cast<IHTMLWindow2Vtbl*>(&g_windowVtbl);
    m_object->dispatchEx.lpVtbl = const_cast<IDispatchExVtbl*>(&g_dispatchExVtbl);
    m_object->state = this;
}

FakeWindow::~FakeWindow() {
    m_object->state = nullptr;
    m_object->Release();
}

IHTMLWindow2* FakeWindow::Interface() { return &m_object->window; }

// ===================================================================== DOM nodes

struct FakeNode::Object {
    IHTMLDOMNode node;
    IHTMLElement element;
    RefCount count;
    FakeNode* state = nullptr;

    ULONG AddRef() { return count.Add(); }
    ULONG Release() {
        ULONG remaining = 0;
        if (count.Drop(&remaining)) delete this;
        return remaining;
    }
    HRESULT QueryInterface(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLDOMNode))
            *out = &node;
        else if (IsEqualIID(iid, IID_IHTMLElement) && state && state->type == 1)
            *out = &element;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
};

namespace {

using NodeObject = FakeNode::Object;
NodeObject* FromNode(IHTMLDOMNode* self) { return HOST_IMPL_FROM(NodeObject, node, self); }

// Hands out a node's IHTMLDOMNode with a reference, or null.
HRESULT GiveNode(FakeNode* node, IHTMLDOMNode** out) {
    *out = node ? node->Node() : nullptr;
    if (*out) IHTMLDOMNode_AddRef(*out);
    return S_OK;
}

FakeNode* SiblingOf(FakeNode* node, int step) {
    if (!node || !node->parent) return nullptr;
    auto& siblings = node->parent->children;
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node) {
            const long next = static_cast<long>(i) + step;
            if (next < 0 || next >= static_cast<long>(siblings.size())) return nullptr;
            return siblings[static_cast<size_t>(next)].get();
        }
    return nullptr;
}

// A fake with one interface besides IUnknown and IDispatch (collections and attributes), which
// may keep a node's object alive while it lives. The interface comes first, so the object's
// address is its interface's.
template <typename Derived, typename Interface>
struct OneInterfaceObject {
    Interface face;
    RefCount count;
    NodeObject* owner = nullptr;

    static Derived* From(Interface* self) { return reinterpret_cast<Derived*>(self); }
    HRESULT QueryInterface(REFIID iid, void** out) {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, Derived::Iid()))
            return E_NOINTERFACE;
        *out = &face;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() { return count.Add(); }
    ULONG Release() {
        ULONG remaining = 0;
        if (count.Drop(&remaining)) {
            if (owner) owner->Release();
            delete static_cast<Derived*>(this);
        }
        return remaining;
    }
    static HRESULT STDMETHODCALLTYPE QueryInterfaceOf(Interface* self, REFIID iid, void** out) {
        return From(self)->QueryInterface(iid, out);
    }
    static ULONG STDMETHODCALLTYPE AddRefOf(Interface* self) { return From(self)->AddRef(); }
    static ULONG STDMETHODCALLTYPE ReleaseOf(Interface* self) { return From(self)->Release(); }
    template <typename Vtbl>
    static void SetUnknown(Vtbl& v) {
        v.QueryInterface = QueryInterfaceOf;
        v.AddRef = AddRefOf;
        v.Release = ReleaseOf;
    }
};

// An attribute of the attribute collection: a name and a value, copied when handed out.
struct AttributeObject : OneInterfaceObject<AttributeObject, IHTMLDOMAttribute> {
    static const IID& Iid() { return IID_IHTMLDOMAttribute; }
    std::wstring name;
    Value value;
};

HRESULT STDMETHODCALLTYPE Attribute_get_nodeName(IHTMLDOMAttribute* self, BSTR* name) {
    *name = SysAllocString(AttributeObject::From(self)->name.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Attribute_get_nodeValue(IHTMLDOMAttribute* self, VARIANT* value) {
    VariantInit(value);
    return VariantCopy(value, AttributeObject::From(self)->value.get());
}

const IHTMLDOMAttributeVtbl g_attributeVtbl = [] {
    IHTMLDOMAttributeVtbl v = MakeVtable<IHTMLDOMAttributeVtbl>();
    RegisterVtable(&g_attributeVtbl, "IHTMLDOMAttribute");
    AttributeObject::SetUnknown(v);
    v.get_nodeName = Attribute_get_nodeName;
    v.get_nodeValue = Attribute_get_nodeValue;
    return v;
}();

// The attribute collection of one element; it keeps the element's object alive.
struct AttributesObject : OneInterfaceObject<AttributesObject, IHTMLAttributeCollection> {
    static const IID& Iid() { return IID_IHTMLAttributeCollection; }
};

HRESULT STDMETHODCALLTYPE Attributes_get_length(IHTMLAttributeCollection* self, LONG* length) {
    FakeNode* node = AttributesObject::From(self)->owner->state;
    if (!node) return E_FAIL;
    *length = static_cast<LONG>(node->attributes.size());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Attributes_item(IHTMLAttributeCollection* self, VARIANT* index, IDispatch** item) {
    *item = nullptr;
    FakeNode* node = AttributesObject::From(self)->owner->state;
    if (!node || !index || V_VT(index) != VT_I4) return E_INVALIDARG;
    if (V_I4(index) < 0 || static_cast<size_t>(V_I4(index)) >= node->attributes.size()) return E_INVALIDARG;
    auto* attribute = new AttributeObject;
    attribute->face.lpVtbl = const_cast<IHTMLDOMAttributeVtbl*>(&g_attributeVtbl);
    attribute->name = node->attributes[static_cast<size_t>(V_I4(index))].first;
    attribute->value = node->attributes[static_cast<size_t>(V_I4(index))].second;
    *item = reinterpret_cast<IDispatch*>(&attribute->face);
    return S_OK;
}

const IHTMLAttributeCollectionVtbl g_attributesVtbl = [] {
    IHTMLAttributeCollectionVtbl v = MakeVtable<IHTMLAttributeCollectionVtbl>();
    RegisterVtable(&g_attributesVtbl, "IHTMLAttributeCollection");
    AttributesObject::SetUnknown(v);
    v.get_length = Attributes_get_length;
    v.item = Attributes_item;
    return v;
}();

// The child collection of one node; it keeps the node's object alive.
struct ChildrenObject : OneInterfaceObject<ChildrenObject, IHTMLDOMChildrenCollection> {
    static const IID& Iid() { return IID_IHTMLDOMChildrenCollection; }
};

HRESULT STDMETHODCALLTYPE Children_get_length(IHTMLDOMChildrenCollection* self, LONG* length) {
    FakeNode* node = ChildrenObject::From(self)->owner->state;
    if (!node) return E_FAIL;
    *length = static_cast<LONG>(node->children.size());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Children_item(IHTMLDOMChildrenCollection* self, LONG index, IDispatch** item) {
    *item = nullptr;
    FakeNode* node = ChildrenObject::From(self)->owner->state;
    if (!node || index < 0 || static_cast<size_t>(index) >= node->children.size()) return E_INVALIDARG;
    *item = reinterpret_cast<IDispatch*>(node->children[static_cast<size_t>(index)]->Node());
    IDispatch_AddRef(*item);
    return S_OK;
}

const IHTMLDOMChildrenCollectionVtbl g_childrenVtbl = [] {
    IHTMLDOMChildrenCollectionVtbl v = MakeVtable<IHTMLDOMChildrenCollectionVtbl>();
    RegisterVtable(&g_childrenVtbl, "IHTMLDOMChildrenCollection");
    ChildrenObject::SetUnknown(v);
    v.get_length = Children_get_length;
    v.item = Children_item;
    return v;
}();

HOST_IUNKNOWN(Node, NodeObject, node, IHTMLDOMNode)

HRESULT STDMETHODCALLTYPE Node_get_nodeType(IHTMLDOMNode* self, LONG* type) {
    FakeNode* node = FromNode(self)->state;
    if (!node || node->failNodeType) return E_FAIL;
    *type = node->type;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Node_get_nodeName(IHTMLDOMNode* self, BSTR* name) {
    FakeNode* node = FromNode(self)->state;
    if (!node) return E_FAIL;
    *name = SysAllocString(node->name.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Node_get_nodeValue(IHTMLDOMNode* self, VARIANT* value) {
    FakeNode* node = FromNode(self)->state;
    VariantInit(value);
    if (!node) return E_FAIL;
    return VariantCopy(value, node->value.get());
}
HRESULT STDMETHODCALLTYPE Node_get_attributes(IHTMLDOMNode* self, IDispatch** attributes) {
    NodeObject* object = FromNode(self);
    *attributes = nullptr;
    if (!object->state) return E_FAIL;
    if (object->state->type != 1) return S_OK;
    auto* collection = new AttributesObject;
    collection->face.lpVtbl = const_cast<IHTMLAttributeCollectionVtbl*>(&g_attributesVtbl);
    collection->owner = object;
    object->AddRef();
    *attributes = reinterpret_cast<IDispatch*>(&collection->face);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Node_get_childNodes(IHTMLDOMNode* self, IDispatch** children) {
    NodeObject* object = FromNode(self);
    *children = nullptr;
    if (!object->state) return E_FAIL;
    auto* collection = new ChildrenObject;
    collection->face.lpVtbl = const_cast<IHTMLDOMChildrenCollectionVtbl*>(&g_childrenVtbl);
    collection->owner = object;
    object->AddRef();
    *children = reinterpret_cast<IDispatch*>(&collection->face);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Node_get_firstChild(IHTMLDOMNode* self, IHTMLDOMNode** child) {
    FakeNode* node = FromNode(self)->state;
    if (!node) return E_FAIL;
    return GiveNode(node->children.empty() ? nullptr : node->children.front().get(), child);
}
HRESULT STDMETHODCALLTYPE Node_get_nextSibling(IHTMLDOMNode* self, IHTMLDOMNode** sibling) {
    FakeNode* node = FromNode(self)->state;
    if (!node) return E_FAIL;
    return GiveNode(SiblingOf(node, 1), sibling);
}
HRESULT STDMETHODCALLTYPE Node_get_previousSibling(IHTMLDOMNode* self, IHTMLDOMNode** sibling) {
    FakeNode* node = FromNode(self)->state;
    if (!node) return E_FAIL;
    return GiveNode(SiblingOf(node, -1), sibling);
}
HRESULT STDMETHODCALLTYPE Node_get_parentNode(IHTMLDOMNode* self, IHTMLDOMNode** parent) {
    FakeNode* node = FromNode(self)->state;
    if (!node) return E_FAIL;
    return GiveNode(node->parent, parent);
}

const IHTMLDOMNodeVtbl g_nodeVtbl = [] {
    IHTMLDOMNodeVtbl v = MakeVtable<IHTMLDOMNodeVtbl>();
    RegisterVtable(&g_nodeVtbl, "IHTMLDOMNode");
    HOST_SET_IUNKNOWN(v, Node);
    v.get_nodeType = Node_get_nodeType;
    v.get_nodeName = Node_get_nodeName;
    v.get_nodeValue = Node_get_nodeValue;
    v.get_attributes = Node_get_attributes;
    v.get_childNodes = Node_get_childNodes;
    v.get_firstChild = Node_get_firstChild;
    v.get_nextSibling = Node_get_nextSibling;
    v.get_previousSibling = Node_get_previousSibling;
    v.get_parentNode = Node_get_parentNode;
    return v;
}();

HOST_IUNKNOWN(Element, NodeObject, element, IHTMLElement)

const IHTMLElementVtbl g_elementVtbl = [] {
    IHTMLElementVtbl v = MakeVtable<IHTMLElementVtbl>();
    RegisterVtable(&g_elementVtbl, "IHTMLElement");
    HOST_SET_IUNKNOWN(v, Element);
    return v;
}();

}  // namespace

FakeNode::FakeNode(long nodeType, std::wstring nodeName) : type(nodeType), name(std::move(nodeName)) {}

FakeNode::~FakeNode() {
    children.clear();
    if (m_object) {
        m_object->state = nullptr;
        m_object->Release();
    }
}

FakeNode* FakeNode::Append(std::unique_ptr<FakeNode> child) {
    child->parent = this;
    children.push_back(std::move(child));
    return children.back().get();
}

std::unique_ptr<FakeNode> FakeNode::Element(const std::wstring& name,
                                           std::vector<std::pair<std::wstring, std::wstring>> attributes) {
    auto node = std::make_unique<FakeNode>(1L, name);
    for (auto& attribute : attributes) node->attributes.emplace_back(attribute.first, Value(attribute.second));
    return node;
}

std::unique_ptr<FakeNode> FakeNode::Text(const std::wstring& text) {
    auto node = std::make_unique<FakeNode>(3L, L"#text");
    node->value = Value(text);
    return node;
}

std::unique_ptr<FakeNode> FakeNode::Comment(const std::wstring& text) {
    auto node = std::make_unique<FakeNode>(8L, L"#comment");
    node->value = Value(text);
    return node;
}

const Value* FakeNode::Attribute(const std::wstring& attributeName) const {
    for (const auto& attribute : attributes)
        if (attribute.first == attributeName) return &attribute.second;
    return nullptr;
}

IHTMLDOMNode* FakeNode::Node() {
    if (!m_object) {
        m_object = new Object;
        m_object->node.lpVtbl = const_cast<IHTMLDOMNodeVtbl*>(&g_nodeVtbl);
        m_object->element.lpVtbl = const_cast<IHTMLElementVtbl*>(&g_elementVtbl);
        m_object->state = this;
    }
    return &m_object->node;
}

IUnknown* FakeNode::Interface() { return reinterpret_cast<IUnknown*>(Node()); }

// ===================================================================== document

struct FakeDocument::Object {
    IHTMLDocument2 document2;
    IHTMLDocument3 document3;
    RefCount count;
    FakeDocument* state = nullptr;

    ULONG AddRef() { return count.Add(); }
    ULONG Release() {
        ULONG remaining = 0;
        if (count.Drop(&remaining)) delete this;
        return remaining;
    }
    HRESULT QueryInterface(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
            *out = &document2;
        else if ((IsEqualIID(iid, IID_IHTMLDocument) || IsEqualIID(iid, IID_IHTMLDocument2)) && state &&
                 state->offerDocument2)
            *out = &document2;
        else if (IsEqualIID(iid, IID_IHTMLDocument3) && state && state->offerDocument3)
            *out = &document3;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
};

namespace {

using DocumentObject = FakeDocument::Object;
DocumentObject* FromDocument2(IHTMLDocument2* self) { return HOST_IMPL_FROM(DocumentObject, document2, self); }
DocumentObject* FromDocument3(IHTMLDocument3* self) { return HOST_IMPL_FROM(DocumentObject, document3, self); }

HOST_IUNKNOWN(Document2, DocumentObject, document2, IHTMLDocument2)

HRESULT STDMETHODCALLTYPE Document2_get_title(IHTMLDocument2* self, BSTR* title) {
    FakeDocument* state = FromDocument2(self)->state;
    *title = nullptr;
    if (!state) return E_FAIL;
    if (FAILED(state->titleResult)) return state->titleResult;
    if (!state->nullTitle) *title = SysAllocString(state->title.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Document2_get_URL(IHTMLDocument2* self, BSTR* url) {
    FakeDocument* state = FromDocument2(self)->state;
    *url = nullptr;
    if (!state) return E_FAIL;
    if (FAILED(state->urlResult)) return state->urlResult;
    *url = SysAllocString(state->url.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Document2_get_parentWindow(IHTMLDocument2* self, IHTMLWindow2** window) {
    FakeDocument* state = FromDocument2(self)->state;
    *window = nullptr;
    if (!state) return E_FAIL;
    if (!state->offerWindow) return E_FAIL;
    *window = state->window.Interface();
    IHTMLWindow2_AddRef(*window);
    return S_OK;
}

const IHTMLDocument2Vtbl g_document2Vtbl = [] {
    IHTMLDocument2Vtbl v = MakeVtable<IHTMLDocument2Vtbl>();
    RegisterVtable(&g_document2Vtbl, "IHTMLDocument2");
    HOST_SET_IUNKNOWN(v, Document2);
    v.get_title = Document2_get_title;
    v.get_URL = Document2_get_URL;
    v.get_parentWindow = Document2_get_parentWindow;
    return v;
}();

HOST_IUNKNOWN(Document3, DocumentObject, document3, IHTMLDocument3)

HRESULT STDMETHODCALLTYPE Document3_get_documentElement(IHTMLDocument3* self, IHTMLElement** element) {
    FakeDocument* state = FromDocument3(self)->state;
    *element = nullptr;
    if (!state) return E_FAIL;
    if (!state->root) return S_OK;
    return IHTMLDOMNode_QueryInterface(state->root->Node(), IID_IHTMLElement, reinterpret_cast<void**>(element));
}

const IHTMLDocument3Vtbl g_document3Vtbl = [] {
    IHTMLDocument3Vtbl v = MakeVtable<IHTMLDocument3Vtbl>();
    RegisterVtable(&g_document3Vtbl, "IHTMLDocument3");
    HOST_SET_IUNKNOWN(v, Document3);
    v.get_documentElement = Document3_get_documentElement;
    return v;
}();

FakeNode* FindNode(FakeNode* node, const void* identity) {
    if (!node) return nullptr;
    if (static_cast<const void*>(node->Node()) == identity) return node;
    for (auto& child : node->children)
        if (FakeNode* found = FindNode(child.get(), identity)) return found;
    return nullptr;
}

FakeNode* FindById(FakeNode* node, const std::wstring& id) {
    if (!node) return nullptr;
    if (const Value* value = node->Attribute(L"id"))
        if (value->text() == id) return node;
    for (auto& child : node->children)
        if (FakeNode* found = FindById(child.get(), id)) return found;
    return nullptr;
}

}  // namespace

FakeDocument::FakeDocument() : m_object(new Object) {
    m_object->document2.lpVtbl = const_cast<IHTMLDocument2Vtbl*>(&g_document2Vtbl);
    m_object->document3.lpVtbl = const_cast<IHTMLDocument3Vtbl*>(&g_document3Vtbl);
    m_object->state = this;
}

FakeDocument::~FakeDocument() {
    m_object->state = nullptr;
    m_object->Release();
}

IDispatch* FakeDocument::Interface() { return reinterpret_cast<IDispatch*>(&m_object->document2); }

FakeNode* FakeDocument::ElementById(const std::wstring& id) { return FindById(root.get(), id); }

FakeNode* FakeDocument::NodeOf(IUnknown* object) {
    if (!object) return nullptr;
    IUnknown* identity = nullptr;
    if (FAILED(IUnknown_QueryInterface(object, IID_IHTMLDOMNode, reinterpret_cast<void**>(&identity)))) return nullptr;
    IUnknown_Release(identity);
    return FindNode(root.get(), identity);
}

}  // namespace host
