#include "settings/xml_document.h"

#include <algorithm>
#include <strings.h>

#include "base/file_util.h"
#include "settings/text_encoding.h"

namespace korvanel {
namespace {

thread_local XmlError tlsLastError = XmlError::None;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kIndent = "   ";

class Writer {
public:
    explicit Writer(bool latin1) : latin1_(latin1) {}

    void element(const XmlElement& element, int depth, bool isRoot) {
        indent(depth);
        out_ += '<';
        text(element.name());
        for (const auto& attribute : element.attributes()) {
            out_ += ' ';
            text(attribute.name);
            out_ += "=\"";
            text(attribute.value);
            out_ += '"';
        }
        const bool hasContents = element.contents().has_value();
        if (!hasContents && element.childCount() == 0 && !isRoot) {
            out_ += "/>";
            out_ += kLineEnd;
            return;
        }
        out_ += '>';
        if (!hasContents) {
            out_ += kLineEnd;
        }
        for (const auto& child : element.children()) {
            this->element(*child, depth + 1, false);
        }
        if (hasContents) {
            text(*element.contents());
        } else {
            indent(depth);
        }
        out_ += "</";
        text(element.name());
        out_ += '>';
        out_ += kLineEnd;
    }

    std::string& out() { return out_; }

private:
    void indent(int depth) {
        for (int i = 0; i < depth; ++i) {
            out_ += kIndent;
        }
    }

    void text(std::string_view value) {
        if (latin1_) {
            appendUtf8AsLatin1WithReferences(out_, value);
        } else {
            appendWithoutXmlForbiddenCharacters(out_, value);
        }
    }

    bool latin1_;
    std::string out_;
};

}  // namespace

XmlError lastXmlError() { return tlsLastError; }
void setLastXmlError(XmlError error) { tlsLastError = error; }

bool isLatin1Encoding(std::string_view encoding) {
    constexpr std::string_view kLatin1 = "ISO-8859-1";
    return encoding.size() == kLatin1.size() && strncasecmp(encoding.data(), kLatin1.data(), kLatin1.size()) == 0;
}

XmlElement::XmlElement(std::string_view name, XmlElement* parent) : name_(name), parent_(parent) {}

void XmlElement::appendContents(std::string_view text) {
    if (!contents_) {
        contents_.emplace();
    }
    contents_->append(text);
}

XmlElement& XmlElement::addChild(std::string_view name) {
    children_.push_back(std::make_unique<XmlElement>(name, this));
    return *children_.back();
}

XmlElement* XmlElement::findChild(std::string_view name) const {
    for (const auto& child : children_) {
        if (child->name_ == name) {
            return child.get();
        }
    }
    return nullptr;
}

bool XmlElement::removeChild(const XmlElement* child) {
    const auto it = std::find_if(children_.begin(), children_.end(),
                                 [child](const auto& owned) { return owned.get() == child; });
    if (it == children_.end()) {
        return false;
    }
    children_.erase(it);
    return true;
}

const std::string* XmlElement::findAttribute(std::string_view name) const {
    for (const auto& attribute : attributes_) {
        if (attribute.name == name) {
            return &attribute.value;
        }
    }
    return nullptr;
}

void XmlElement::setAttribute(std::string_view name, std::string_view value) {
    for (auto& attribute : attributes_) {
        if (attribute.name == name) {
            attribute.value = std::string(value);
            return;
        }
    }
    attributes_.push_back({std::string(name), std::string(value)});
}

XmlElement& XmlDocument::setRoot(std::string_view name) {
    root_ = std::make_unique<XmlElement>(name, nullptr);
    return *root_;
}

std::string XmlDocument::toText() const {
    const std::string& declaredEncoding = encoding.empty() ? std::string("UTF-8") : encoding;
    const bool latin1 = isLatin1Encoding(declaredEncoding);

    Writer writer(latin1);
    std::string& out = writer.out();
    out += "<?xml version=\"";
    out += version.empty() ? std::string("1.0") : version;
    out += "\" encoding=\"";
    out += declaredEncoding;
    out += "\" standalone=\"";
    out += standalone > 0 ? "yes" : "no";
    out += "\"?>";
    out += kLineEnd;
    out += kLineEnd;
    if (root_) {
        writer.element(*root_, 0, true);
    }
    return std::move(out);
}

bool XmlDocument::writeToFile(const std::string& path) const {
    if (!writeFileAtomically(path, toText())) {
        setLastXmlError(XmlError::FileAccess);
        return false;
    }
    return true;
}

}  // namespace korvanel
