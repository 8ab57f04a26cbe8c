#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "settings/xml_document.h"

namespace korvanel {

// Builds an XmlDocument from XML text with Expat. Texts arrive as UTF-8
// whatever the declared encoding. Element contents are trimmed of
// surrounding white space when the element ends. Elements nested deeper than
// the depth limit (root included; kMaxDepth unless set) are skipped with
// everything inside them.
//
// One parser belongs to one thread at a time.
class XmlParser {
public:
    static constexpr int kMaxDepth = 16;
    // Files larger than this are not read: the XML files of this program are
    // far smaller, and a file is untrusted input.
    static constexpr std::size_t kMaxFileBytes = 64u * 1024 * 1024;

    // Called for each complete top-level document of an in-memory text; a
    // false result fails the parse with DocumentRefused.
    using DocumentCallback = std::function<bool(XmlParser&)>;

    XmlParser();
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // On: contents are trimmed in place and whitespace-only contents vanish.
    // Off: whitespace-only contents vanish, other contents stay untrimmed.
    void setIgnoreWhitespace(bool on) { ignoreWhitespace_ = on; }
    void setDocumentCallback(DocumentCallback callback) { callback_ = std::move(callback); }
    void setMaxDepth(int levels) { maxDepth_ = levels; }

    // Reads the file in blocks. Sets FileAccess or Syntax on failure.
    bool parseFile(const std::string& path);
    // Parses a text held in memory; with a document callback, one text may
    // hold several documents one after another.
    bool parseText(std::string_view text);

    XmlDocument* document() const { return document_.get(); }
    std::unique_ptr<XmlDocument> takeDocument() { return std::move(document_); }

private:
    struct State;

    XmlDocument& ensureDocument();
    bool feed(std::string_view block, bool isFinal);
    bool documentComplete() const;
    void reset();

    std::unique_ptr<State> state_;
    std::unique_ptr<XmlDocument> document_;
    bool ignoreWhitespace_ = true;
    int maxDepth_ = kMaxDepth;
    DocumentCallback callback_;
};

}  // namespace korvanel
