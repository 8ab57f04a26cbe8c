#include <thread>

#include <gtest/gtest.h>

#include "settings/xml_document.h"
#include "settings/xml_parser.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

std::unique_ptr<XmlDocument> parse(std::string_view text, bool ignoreWhitespace = true) {
    XmlParser parser;
    parser.setIgnoreWhitespace(ignoreWhitespace);
    if (!parser.parseText(text)) {
        return nullptr;
    }
    return parser.takeDocument();
}

TEST(XmlTree, WriterLayoutForEmptyWhitespaceAndMixedElements) {
    auto document = parse(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Root a=\"1\"><Blank>  \n\t </Blank><Mixed>one<Child>c</Child>two</Mixed><Empty/></Root>");
    ASSERT_TRUE(document);
    const XmlElement* root = document->root();
    EXPECT_FALSE(root->findChild("Blank")->contents().has_value());
    EXPECT_EQ(*root->findChild("Mixed")->contents(), "onetwo");
    EXPECT_EQ(document->toText(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"
              "\r\n"
              "<Root a=\"1\">\r\n"
              "   <Blank/>\r\n"
              "   <Mixed>      <Child>c</Child>\r\n"
              "onetwo</Mixed>\r\n"
              "   <Empty/>\r\n"
              "</Root>\r\n");

    XmlDocument bare;
    bare.setRoot("Only");
    EXPECT_EQ(bare.toText(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n\r\n"
              "<Only>\r\n</Only>\r\n");
}

TEST(XmlTree, WhitespaceHandlingFollowsTheParserFlag) {
    auto trimmed = parse("<R><V>\n  two words \t</V><W> </W></R>", true);
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(*trimmed->root()->findChild("V")->contents(), "two words");
    EXPECT_FALSE(trimmed->root()->findChild("W")->contents().has_value());

    auto kept = parse("<R><V>\n  two words \t</V><W> </W></R>", false);
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept->root()->findChild("V")->contents(), "\n  two words \t");
    EXPECT_FALSE(kept->root()->findChild("W")->contents().has_value());
}

TEST(XmlTree, AttributesKeepFirstInsertionOrder) {
    XmlDocument document;
    XmlElement& root = document.setRoot("R");
    root.setAttribute("first", "1");
    root.setAttribute("second", "2");
    root.setAttribute("first", "one");
    ASSERT_EQ(root.attributes().size(), 2u);
    EXPECT_EQ(root.attributes()[0].name, "first");
    EXPECT_EQ(root.attributes()[0].value, "one");
    EXPECT_EQ(*root.findAttribute("second"), "2");
    EXPECT_EQ(root.findAttribute("First"), nullptr);  // exact comparison
}

TEST(XmlTree, ChildrenKeepOrderAndRemovalUnlinks) {
    XmlDocument document;
    XmlElement& root = document.setRoot("R");
    root.addChild("A");
    XmlElement& b = root.addChild("B");
    b.addChild("Inner");
    root.addChild("A");
    EXPECT_EQ(root.childCount(), 3u);
    EXPECT_EQ(root.findChild("A"), root.children()[0].get());
    EXPECT_EQ(b.parent(), &root);
    EXPECT_TRUE(root.removeChild(&b));
    EXPECT_FALSE(root.removeChild(&b));
    EXPECT_EQ(root.childCount(), 2u);
    EXPECT_EQ(root.findChild("B"), nullptr);
}

TEST(XmlTree, DeclarationIsReadIntoTheDocument) {
    auto document = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?><R/>");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->version, "1.0");
    EXPECT_EQ(document->encoding, "ISO-8859-1");
    EXPECT_EQ(document->standalone, 1);
}

TEST(XmlTree, InMemoryTextWithCallbackReadsSeveralDocuments) {
    XmlParser parser;
    std::vector<std::string> roots;
    parser.setDocumentCallback([&roots](XmlParser& p) {
        roots.push_back(p.document()->root()->name());
        return true;
    });
    EXPECT_TRUE(parser.parseText("<One><x>1</x></One>\n<?xml version=\"1.0\"?><Two/>\n  "));
    EXPECT_EQ(roots, (std::vector<std::string>{"One", "Two"}));

    XmlParser refusing;
    refusing.setDocumentCallback([](XmlParser&) { return false; });
    EXPECT_FALSE(refusing.parseText("<One/>"));
    EXPECT_EQ(lastXmlError(), XmlError::DocumentRefused);

    XmlParser unfinished;
    unfinished.setDocumentCallback([](XmlParser&) { return true; });
    EXPECT_FALSE(unfinished.parseText("<One/><Two>"));
    EXPECT_EQ(lastXmlError(), XmlError::Syntax);
}

TEST(XmlTree, ErrorsArePerThreadAndFilesThatCannotBeUsedSetFileAccess) {
    test::TempFolder folder;
    XmlParser parser;
    EXPECT_FALSE(parser.parseFile(folder.file("missing.xml")));
    EXPECT_EQ(lastXmlError(), XmlError::FileAccess);
    EXPECT_EQ(parser.document(), nullptr);

    XmlError otherThread = XmlError::OutOfMemory;
    std::thread([&otherThread] { otherThread = lastXmlError(); }).join();
    EXPECT_EQ(otherThread, XmlError::None);

    EXPECT_EQ(parse("<a><b></a>"), nullptr);
    EXPECT_EQ(lastXmlError(), XmlError::Syntax);

    XmlDocument document;
    document.setRoot("R").setContents("kept");
    EXPECT_FALSE(document.writeToFile(folder.file("no/folder/out.xml")));
    EXPECT_EQ(lastXmlError(), XmlError::FileAccess);
    EXPECT_EQ(*document.root()->contents(), "kept");
}

TEST(XmlTree, FileIsReadInBlocksAcrossBoundaries) {
    test::TempFolder folder;
    std::string text = "<R>";
    for (int i = 0; i < 2000; ++i) {
        text += "<V" + std::to_string(i) + ">value " + std::to_string(i) + "</V" + std::to_string(i) + ">";
    }
    text += "</R>";
    test::writeFile(folder.file("big.xml"), text);
    XmlParser parser;
    ASSERT_TRUE(parser.parseFile(folder.file("big.xml")));
    const XmlElement* root = parser.document()->root();
    ASSERT_EQ(root->childCount(), 2000u);
    EXPECT_EQ(*root->children()[1234]->contents(), "value 1234");
}

}  // namespace
}  // namespace korvanel
