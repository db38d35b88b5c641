#include "platform/xml.h"

#include <pugixml.hpp>

#include "platform/file.h"
#include "utf8.h"

namespace platform {

struct CXmlDocument::SImpl {
    pugi::xml_document document;
};

struct CXmlNode::SImpl {
    std::shared_ptr<CXmlDocument::SImpl> owner;  // keeps the tree alive
    pugi::xml_node node;
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
    return IsValid() && m_impl->node.type() == pugi::node_element;
}

std::wstring CXmlNode::Name() const
{
    if (!IsValid()) {
        return {};
    }
    switch (m_impl->node.type()) {
    case pugi::node_element:
        return detail::FromUtf8(m_impl->node.name());
    case pugi::node_pcdata:
        return L"#text";
    case pugi::node_cdata:
        return L"#cdata-section";
    case pugi::node_comment:
        return L"#comment";
    case pugi::node_document:
        return L"#document";
    default:
        return detail::FromUtf8(m_impl->node.name());  // processing instruction: its target
    }
}

std::wstring CXmlNode::NamespaceUri() const
{
    if (!IsElement()) {
        return {};
    }
    const std::string name = m_impl->node.name();
    const std::size_t colon = name.find(':');
    const std::string declaration = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    for (pugi::xml_node node = m_impl->node; node; node = node.parent()) {
        if (const pugi::xml_attribute attribute = node.attribute(declaration.c_str())) {
            return detail::FromUtf8(attribute.value());
        }
    }
    return {};
}

std::vector<CXmlNode> CXmlNode::Children() const
{
    std::vector<CXmlNode> children;
    if (!IsValid()) {
        return children;
    }
    for (pugi::xml_node child : m_impl->node.children()) {
        auto impl = std::make_shared<SImpl>();
        impl->owner = m_impl->owner;
        impl->node = child;
        children.emplace_back(std::move(impl));
    }
    return children;
}

bool CXmlNode::Attribute(const wchar_t* name, std::wstring& value) const
{
    value.clear();
    if (!IsElement() || name == nullptr) {
        return false;
    }
    std::string narrowName;
    if (!detail::ToUtf8(name, narrowName)) {
        return false;
    }
    const pugi::xml_attribute attribute = m_impl->node.attribute(narrowName.c_str());
    if (!attribute) {
        return false;
    }
    value = detail::FromUtf8(attribute.value());
    return true;
}

std::wstring CXmlNode::Value() const
{
    if (!IsValid()) {
        return {};
    }
    switch (m_impl->node.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
        return detail::FromUtf8(m_impl->node.value());
    default:
        return {};
    }
}

CXmlDocument::CXmlDocument() = default;
CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Load(const wchar_t* path)
{
    m_impl.reset();
    // Read through CFile: it refuses directories and other non-files, which
    // the parser's own file loading would try to size and read.
    CFile file;
    if (path == nullptr || !file.Open(path, EFileMode::READ_SHARED)) {
        return false;
    }
    const std::int64_t size = file.Size();
    if (size <= 0 || size > (std::int64_t {1} << 30)) {
        return false;
    }
    std::string content(static_cast<std::size_t>(size), '\0');
    if (file.Read(content.data(), content.size()) != size) {
        return false;
    }
    return LoadText(content);
}

bool CXmlDocument::LoadText(std::string_view text)
{
    m_impl.reset();
    if (text.empty()) {
        return false;
    }
    auto impl = std::make_shared<SImpl>();
    // Comments and processing instructions are nodes as in a DOM; blank text
    // between elements is not (a DOM loaded without preserveWhiteSpace drops it too).
    // pugixml reads no DTD and expands no entity but the predefined ones.
    const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration;
    const pugi::xml_parse_result result = impl->document.load_buffer(text.data(), text.size(), options);
    if (!result || !impl->document.document_element()) {
        return false;
    }
    // pugixml also takes several root elements; a DOM takes exactly one.
    std::size_t roots = 0;
    for (pugi::xml_node child : impl->document.children()) {
        if (child.type() == pugi::node_element && ++roots > 1) {
            return false;
        }
    }
    m_impl = std::move(impl);
    return true;
}

CXmlNode CXmlDocument::DocumentElement() const
{
    if (!m_impl) {
        return CXmlNode();
    }
    auto impl = std::make_shared<CXmlNode::SImpl>();
    impl->owner = m_impl;
    impl->node = m_impl->document.document_element();
    return CXmlNode(std::move(impl));
}

CXmlThreadScope::CXmlThreadScope() = default;
CXmlThreadScope::~CXmlThreadScope() = default;

}  // namespace platform
