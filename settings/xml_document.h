#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

// The last error of the XML layer on the calling thread.
enum class XmlError {
    None = 0,
    OutOfMemory = 1,
    FileAccess = 2,       // the file could not be opened, read or written
    DocumentRefused = 3,  // the document callback refused a document
    Syntax = 4,           // the XML parser reported an error
};

XmlError lastXmlError();
void setLastXmlError(XmlError error);

// Whether a document declared with this encoding is written as ISO-8859-1
// (any case), where characters above U+00FF exist only as references.
bool isLatin1Encoding(std::string_view encoding);

struct XmlAttribute {
    std::string name;
    std::string value;
};

// One element of the tree. The parent owns its children; children and
// attributes keep document order.
class XmlElement {
public:
    XmlElement(std::string_view name, XmlElement* parent);

    XmlElement(const XmlElement&) = delete;
    XmlElement& operator=(const XmlElement&) = delete;

    const std::string& name() const { return name_; }
    XmlElement* parent() const { return parent_; }

    // Contents are absent (not merely empty) for an element without text.
    const std::optional<std::string>& contents() const { return contents_; }
    void setContents(std::string_view text) { contents_ = std::string(text); }
    void appendContents(std::string_view text);
    void clearContents() { contents_.reset(); }

    XmlElement& addChild(std::string_view name);
    const std::vector<std::unique_ptr<XmlElement>>& children() const { return children_; }
    std::size_t childCount() const { return children_.size(); }
    XmlElement* findChild(std::string_view name) const;
    // Unlinks and destroys a child with everything below it.
    bool removeChild(const XmlElement* child);

    const std::vector<XmlAttribute>& attributes() const { return attributes_; }
    const std::string* findAttribute(std::string_view name) const;
    // Replaces an attribute of the same name in place, else appends.
    void setAttribute(std::string_view name, std::string_view value);

private:
    std::string name_;
    XmlElement* parent_;
    std::optional<std::string> contents_;
    std::vector<XmlAttribute> attributes_;
    std::vector<std::unique_ptr<XmlElement>> children_;
};

// The XML declaration and the root element.
class XmlDocument {
public:
    std::string version;   // empty: written as "1.0"
    std::string encoding;  // empty: written as "UTF-8"
    int standalone = 0;    // > 0 means "yes"

    XmlElement* root() const { return root_.get(); }
    // Replaces the root with a new, empty element of that name.
    XmlElement& setRoot(std::string_view name);

    // The document as indented text with CRLF line ends. Contents and
    // attribute values are written as stored (callers escape); under an
    // ISO-8859-1 encoding UTF-8 text is transcoded and characters above
    // U+00FF become numeric character references.
    std::string toText() const;
    // Writes toText() to the file, replacing it only once the whole text is
    // on disk. Sets FileAccess and returns false on failure.
    bool writeToFile(const std::string& path) const;

private:
    std::unique_ptr<XmlElement> root_;
};

}  // namespace korvanel
