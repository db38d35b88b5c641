#include "platform/xml.h"

#include <windows.h>
#include <objbase.h>
#include <msxml2.h>

#include <cstring>
#include <utility>

namespace platform {

namespace {

// mingw-w64 declares these but its import libraries do not define them.
const CLSID CLSID_VSK_DOM_DOCUMENT = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_VSK_XML_DOM_DOCUMENT = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Holds one reference to a COM interface.
template <typename T>
class CRef {
public:
    CRef() = default;
    ~CRef() { Reset(); }
    CRef(const CRef& other) : m_p(other.m_p)
    {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CRef& operator=(const CRef& other)
    {
        if (this != &other) {
            CRef copy(other);
            std::swap(m_p, copy.m_p);
        }
        return *this;
    }
    void Reset()
    {
        if (m_p != nullptr) {
            std::exchange(m_p, nullptr)->Release();
        }
    }
    T** Out()
    {
        Reset();
        return &m_p;
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

class CBstr {
public:
    explicit CBstr(const wchar_t* text) : m_b(::SysAllocString(text)) {}
    CBstr() = default;
    ~CBstr() { ::SysFreeString(m_b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR* Out()
    {
        ::SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    BSTR Get() const { return m_b; }
    std::wstring Text() const { return m_b == nullptr ? std::wstring() : std::wstring(m_b, ::SysStringLen(m_b)); }

private:
    BSTR m_b = nullptr;
};

}  // namespace

struct CXmlDocument::SImpl {
    CRef<IXMLDOMDocument> document;
};

struct CXmlNode::SImpl {
    CRef<IXMLDOMNode> node;
};

CXmlNode::CXmlNode() = default;
CXmlNode::~CXmlNode() = default;
CXmlNode::CXmlNode(const CXmlNode&) = default;
CXmlNode& CXmlNode::operator=(const CXmlNode&) = default;
CXmlNode::CXmlNode(std::shared_ptr<SImpl> impl) : m_impl(std::move(impl)) {}

bool CXmlNode::IsValid() const
{
    return m_impl && m_impl->node;
}

bool CXmlNode::IsElement() const
{
    DOMNodeType type = NODE_INVALID;
    return IsValid() && SUCCEEDED(m_impl->node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

std::wstring CXmlNode::Name() const
{
    CBstr name;
    if (!IsValid() || FAILED(m_impl->node->get_nodeName(name.Out()))) {
        return {};
    }
    return name.Text();
}

std::wstring CXmlNode::NamespaceUri() const
{
    CBstr uri;
    if (!IsValid() || m_impl->node->get_namespaceURI(uri.Out()) != S_OK) {
        return {};
    }
    return uri.Text();
}

std::vector<CXmlNode> CXmlNode::Children() const
{
    std::vector<CXmlNode> children;
    CRef<IXMLDOMNodeList> list;
    if (!IsValid() || FAILED(m_impl->node->get_childNodes(list.Out())) || !list) {
        return children;
    }
    list->reset();
    for (;;) {
        auto child = std::make_shared<SImpl>();
        if (list->nextNode(child->node.Out()) != S_OK || !child->node) {
            break;
        }
        children.emplace_back(std::move(child));
    }
    return children;
}

bool CXmlNode::Attribute(const wchar_t* name, std::wstring& value) const
{
    value.clear();
    CRef<IXMLDOMNamedNodeMap> attributes;
    if (!IsValid() || name == nullptr || FAILED(m_impl->node->get_attributes(attributes.Out())) || !attributes) {
        return false;
    }
    CBstr key(name);
    CRef<IXMLDOMNode> attribute;
    if (key.Get() == nullptr || attributes->getNamedItem(key.Get(), attribute.Out()) != S_OK || !attribute) {
        return false;
    }
    VARIANT v;
    ::VariantInit(&v);
    bool found = false;
    if (SUCCEEDED(attribute->get_nodeValue(&v)) && v.vt == VT_BSTR) {
        value = v.bstrVal == nullptr ? std::wstring() : std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal));
        found = true;
    }
    ::VariantClear(&v);
    return found;
}

std::wstring CXmlNode::Value() const
{
    DOMNodeType type = NODE_INVALID;
    if (!IsValid() || FAILED(m_impl->node->get_nodeType(&type)) ||
        (type != NODE_TEXT && type != NODE_CDATA_SECTION && type != NODE_COMMENT)) {
        return {};
    }
    VARIANT v;
    ::VariantInit(&v);
    std::wstring value;
    if (SUCCEEDED(m_impl->node->get_nodeValue(&v)) && v.vt == VT_BSTR && v.bstrVal != nullptr) {
        value.assign(v.bstrVal, ::SysStringLen(v.bstrVal));
    }
    ::VariantClear(&v);
    return value;
}

namespace {

// An empty DOM that loads synchronously.
std::shared_ptr<CXmlDocument::SImpl> NewDocument()
{
    auto impl = std::make_shared<CXmlDocument::SImpl>();
    if (FAILED(::CoCreateInstance(CLSID_VSK_DOM_DOCUMENT, nullptr, CLSCTX_INPROC_SERVER, IID_VSK_XML_DOM_DOCUMENT,
                                  reinterpret_cast<void**>(impl->document.Out()))) ||
        !impl->document) {
        return nullptr;
    }
    impl->document->put_async(VARIANT_FALSE);
    return impl;
}

}  // namespace

CXmlDocument::CXmlDocument() = default;
CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Load(const wchar_t* path)
{
    m_impl.reset();
    if (path == nullptr || *path == L'\0') {
        return false;
    }
    auto impl = NewDocument();
    if (!impl) {
        return false;
    }
    CBstr file(path);
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = file.Get();  // borrowed; not cleared
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (file.Get() == nullptr || FAILED(impl->document->load(source, &loaded)) || loaded != VARIANT_TRUE) {
        return false;
    }
    m_impl = std::move(impl);
    return true;
}

bool CXmlDocument::LoadText(std::string_view text)
{
    m_impl.reset();
    if (text.empty() || text.size() > 0x7FFFFFFFu) {
        return false;
    }
    auto impl = NewDocument();
    if (!impl) {
        return false;
    }
    impl->document->put_resolveExternals(VARIANT_FALSE);
    impl->document->put_validateOnParse(VARIANT_FALSE);
    // Handed over as bytes, not as a string: the document's own declaration
    // or byte-order mark then decides how they are decoded, as for a file.
    SAFEARRAY* bytes = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size()));
    if (bytes == nullptr) {
        return false;
    }
    void* data = nullptr;
    if (FAILED(::SafeArrayAccessData(bytes, &data))) {
        ::SafeArrayDestroy(bytes);
        return false;
    }
    std::memcpy(data, text.data(), text.size());
    ::SafeArrayUnaccessData(bytes);
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = bytes;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = impl->document->load(source, &loaded);
    ::VariantClear(&source);
    if (FAILED(hr) || loaded != VARIANT_TRUE) {
        return false;
    }
    m_impl = std::move(impl);
    return true;
}

CXmlNode CXmlDocument::DocumentElement() const
{
    if (!m_impl) {
        return CXmlNode();
    }
    CRef<IXMLDOMElement> element;
    if (m_impl->document->get_documentElement(element.Out()) != S_OK || !element) {
        return CXmlNode();
    }
    auto node = std::make_shared<CXmlNode::SImpl>();
    static const IID IID_VSK_XML_DOM_NODE = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
    if (FAILED(element->QueryInterface(IID_VSK_XML_DOM_NODE, reinterpret_cast<void**>(node->node.Out())))) {
        return CXmlNode();
    }
    return CXmlNode(std::move(node));
}

CXmlThreadScope::CXmlThreadScope() : m_initialised(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}

CXmlThreadScope::~CXmlThreadScope()
{
    if (m_initialised) {
        ::CoUninitialize();
    }
}

}  // namespace platform
