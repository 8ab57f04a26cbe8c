#include "settings/xml_parser.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <expat.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace korvanel {
namespace {

constexpr std::size_t kFileBlockBytes = 5000;

struct ExpatDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ExpatParser = std::unique_ptr<XML_ParserStruct, ExpatDeleter>;

struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool isLeadingSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v';
}

bool isTrailingSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isTrailingSpace(text.back())) {
        text.remove_suffix(1);
    }
    while (!text.empty() && isLeadingSpace(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

}  // namespace

// What the Expat callbacks work on.
struct XmlParser::State {
    ExpatParser expat;
    XmlParser* owner = nullptr;
    XmlElement* current = nullptr;
    std::vector<XmlElement*> open;  // saved current elements, innermost last
    int skippedDepth = 0;           // open elements below kMaxDepth being skipped
    bool rootClosed = false;
    bool sawContent = false;        // any bytes other than white space fed

    static void onDeclaration(void* data, const XML_Char* version, const XML_Char* encoding,
                              int standalone) {
        auto& state = *static_cast<State*>(data);
        XmlDocument& document = state.owner->ensureDocument();
        document.version = version ? version : "";
        document.encoding = encoding ? encoding : "";
        document.standalone = standalone > 0 ? 1 : 0;
    }

    static void onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& state = *static_cast<State*>(data);
        if (state.skippedDepth > 0 || static_cast<int>(state.open.size()) + 1 >= state.owner->maxDepth_) {
            // Too deep for the tree: skip this element and all inside it.
            ++state.skippedDepth;
            return;
        }
        XmlDocument& document = state.owner->ensureDocument();
        XmlElement* element = nullptr;
        if (document.root() == nullptr) {
            element = &document.setRoot(name);
        } else {
            state.open.push_back(state.current);
            element = &state.current->addChild(name);
        }
        state.current = element;
        for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
            element->setAttribute(attributes[i], attributes[i + 1]);
        }
    }

    static void onCharacters(void* data, const XML_Char* text, int length) {
        auto& state = *static_cast<State*>(data);
        if (state.skippedDepth > 0 || state.current == nullptr || length <= 0) {
            return;
        }
        state.current->appendContents(std::string_view(text, static_cast<std::size_t>(length)));
    }

    static void onEnd(void* data, const XML_Char* /*name*/) {
        auto& state = *static_cast<State*>(data);
        if (state.skippedDepth > 0) {
            --state.skippedDepth;
            return;
        }
        XmlElement* element = state.current;
        if (element == nullptr) {
            return;
        }
        if (element->contents()) {
            const std::string_view kept = trimmed(*element->contents());
            if (kept.empty()) {
                element->clearContents();
            } else if (state.owner->ignoreWhitespace_) {
                element->setContents(std::string(kept));
            }
        }
        if (state.open.empty()) {
            state.current = nullptr;
            state.rootClosed = true;
        } else {
            state.current = state.open.back();
            state.open.pop_back();
        }
    }
};

XmlParser::XmlParser() { reset(); }

XmlParser::~XmlParser() = default;

XmlDocument& XmlParser::ensureDocument() {
    if (!document_) {
        document_ = std::make_unique<XmlDocument>();
    }
    return *document_;
}

void XmlParser::reset() {
    auto state = std::make_unique<State>();
    state->expat.reset(XML_ParserCreate(nullptr));
    state->owner = this;
    if (state->expat) {
        XML_SetUserData(state->expat.get(), state.get());
        XML_SetXmlDeclHandler(state->expat.get(), &State::onDeclaration);
        XML_SetElementHandler(state->expat.get(), &State::onStart, &State::onEnd);
        XML_SetCharacterDataHandler(state->expat.get(), &State::onCharacters);
    }
    state_ = std::move(state);
}

bool XmlParser::feed(std::string_view block, bool isFinal) {
    if (!state_->expat) {
        setLastXmlError(XmlError::OutOfMemory);
        return false;
    }
    if (!state_->sawContent) {
        for (const char c : block) {
            if (!isLeadingSpace(c)) {
                state_->sawContent = true;
                break;
            }
        }
    }
    if (XML_Parse(state_->expat.get(), block.data(), static_cast<int>(block.size()),
                  isFinal ? 1 : 0) == XML_STATUS_ERROR) {
        setLastXmlError(XmlError::Syntax);
        return false;
    }
    return true;
}

bool XmlParser::documentComplete() const {
    return document_ && document_->root() && state_->rootClosed && state_->open.empty();
}

bool XmlParser::parseFile(const std::string& path) {
    FileCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        setLastXmlError(XmlError::FileAccess);
        return false;
    }
    char block[kFileBlockBytes];
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.fd, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            setLastXmlError(XmlError::FileAccess);
            return false;
        }
        total += static_cast<std::size_t>(got);
        if (total > kMaxFileBytes) {
            setLastXmlError(XmlError::FileAccess);
            return false;
        }
        if (!feed(std::string_view(block, static_cast<std::size_t>(got)), got == 0)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
    }
}

bool XmlParser::parseText(std::string_view text) {
    while (!text.empty()) {
        // Pieces end just after a '>' so that the end of each top-level
        // document is seen before the next one starts.
        const std::size_t close = text.find('>');
        const std::size_t length = close == std::string_view::npos ? text.size() : close + 1;
        if (!feed(text.substr(0, length), false)) {
            return false;
        }
        text.remove_prefix(length);

        if (callback_ && documentComplete()) {
            if (!feed({}, true)) {
                return false;
            }
            if (!callback_(*this)) {
                setLastXmlError(XmlError::DocumentRefused);
                return false;
            }
            document_.reset();
            reset();
            // A declaration must open its document, so the white space
            // between two documents is not handed to the fresh parser.
            while (!text.empty() && isLeadingSpace(text.front())) {
                text.remove_prefix(1);
            }
        }
    }
    // A text that stops inside a document is not well-formed; after the last
    // of several documents, trailing white space is fine.
    if (callback_ && !state_->sawContent) {
        return true;
    }
    return feed({}, true);
}

}  // namespace korvanel
