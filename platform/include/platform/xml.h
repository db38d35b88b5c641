// A read-only XML DOM: load a file or text held in memory, walk child nodes
// in document order, read names, attributes and the values of text nodes. Windows: MSXML's DOMDocument through COM, so loading
// fails (an ordinary "could not read") on a thread without COM. Linux:
// pugixml. Node names follow the DOM: elements by tag name, other nodes
// "#text", "#comment", "#cdata-section", "#processing-instruction" ...
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class CXmlNode {
public:
    CXmlNode();
    ~CXmlNode();
    CXmlNode(const CXmlNode&);
    CXmlNode& operator=(const CXmlNode&);

    bool IsValid() const;
    bool IsElement() const;
    std::wstring Name() const;
    // The namespace URI of an element (or attribute) as its prefix, or the
    // default namespace, is declared where it is read; empty when none is.
    std::wstring NamespaceUri() const;
    // Child nodes of every type in document order.
    std::vector<CXmlNode> Children() const;
    // False when the attribute is absent (or its value is not text).
    bool Attribute(const wchar_t* name, std::wstring& value) const;
    // The DOM node value: the text of a text, CDATA-section or comment node
    // (entities resolved); empty for an element, whose text is its children's.
    std::wstring Value() const;

    struct SImpl;
    explicit CXmlNode(std::shared_ptr<SImpl> impl);

private:
    std::shared_ptr<SImpl> m_impl;
};

class CXmlDocument {
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // False when the DOM cannot be created or the file cannot be read or parsed.
    bool Load(const wchar_t* path);
    // The same for a document held in memory, as bytes a peer sent (its
    // encoding declaration or byte-order mark says how to read them; UTF-8
    // without either). External entities and DTDs are never fetched, so a
    // document from the network cannot make the reader open anything.
    bool LoadText(std::string_view text);
    // Invalid node when nothing is loaded.
    CXmlNode DocumentElement() const;

    struct SImpl;

private:
    std::shared_ptr<SImpl> m_impl;
};

// Makes COM usable on the calling thread for the DOM reader (Windows:
// CoInitializeEx multithreaded, undone on destruction when it succeeded;
// Linux: nothing). Hosts do this themselves; tests and tools use this.
class CXmlThreadScope {
public:
    CXmlThreadScope();
    ~CXmlThreadScope();
    CXmlThreadScope(const CXmlThreadScope&) = delete;
    CXmlThreadScope& operator=(const CXmlThreadScope&) = delete;

private:
    bool m_initialised = false;
};

}  // namespace platform
