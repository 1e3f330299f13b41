#include "xml/xml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Parses a copy of text held in a buffer of exactly its size (so reads past
// the end are caught by the sanitizers) and frees the tree afterwards.
class Parsed {
 public:
  explicit Parsed(const std::string& text) : buffer_(new char[text.size() ? text.size() : 1]) {
    std::memcpy(buffer_.get(), text.data(), text.size());
    doc_ = xml_parse(buffer_.get(), text.size());
  }
  ~Parsed() { xml_free(doc_); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;

  xml_node* doc() const { return doc_; }
  std::string error() const { return xml_error(doc_); }
  const char* buffer() const { return buffer_.get(); }
  // Text of the element at a path of child names below the document element.
  std::string text(std::initializer_list<const char*> path) const {
    xml_node* node = doc_;
    for (const char* name : path) node = xml_child(node, name);
    return node ? node->text : "<none>";
  }

 private:
  std::unique_ptr<char[]> buffer_;
  xml_node* doc_;
};

std::string attribute(const xml_node* node, const char* name) {
  for (char** a = node->attributes; *a; a += 2) {
    if (std::strcmp(a[0], name) == 0) return a[1];
  }
  return "<none>";
}

std::string utf16(const std::u16string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(XmlTree, BodyAfterRequestLineParsesAndRepeatedElementsChainThroughNext) {
  Parsed p("\n<A><B>1</B><B>2</B><C/></A>");
  ASSERT_NE(p.doc(), nullptr);
  EXPECT_EQ(p.error(), "");
  EXPECT_STREQ(p.doc()->name, "A");
  xml_node* b = xml_child(p.doc(), "B");
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->text, "1");
  ASSERT_NE(b->next, nullptr);
  EXPECT_STREQ(b->next->text, "2");
  EXPECT_EQ(b->next->next, nullptr);
  xml_node* c = xml_child(p.doc(), "C");
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->text, "");
  EXPECT_EQ(b->sibling, c);
  EXPECT_EQ(b->ordered, b->next);
  EXPECT_EQ(b->next->ordered, c);
  EXPECT_EQ(c->parent, p.doc());
  EXPECT_EQ(p.doc()->parent, nullptr);
}

TEST(XmlTree, ChildLookupIsCaseSensitiveAndNullSafe) {
  Parsed p("<A><SSID>x</SSID></A>");
  EXPECT_EQ(xml_child(p.doc(), "ssid"), nullptr);
  EXPECT_NE(xml_child(p.doc(), "SSID"), nullptr);
  EXPECT_EQ(xml_child(nullptr, "SSID"), nullptr);
  EXPECT_STREQ(xml_error(nullptr), "");
  xml_free(nullptr);
  // A child is not a document: freeing it must not free the tree.
  xml_free(xml_child(p.doc(), "SSID"));
  EXPECT_EQ(p.text({"SSID"}), "x");
}

TEST(XmlTree, TextRunsJoinAroundChildrenAndOffsetsCountTheParentsText) {
  Parsed p("<A>t1<B/>t2<![CDATA[<&amp;>]]>t3</A>");
  EXPECT_STREQ(p.doc()->text, "t1t2<&amp;>t3");
  EXPECT_TRUE(p.doc()->flags & xml_text_allocated);
  EXPECT_EQ(xml_child(p.doc(), "B")->offset, 2u);
}

TEST(XmlTree, PlainTextPointsIntoTheBuffer) {
  Parsed p("<A><B>plain</B></A>");
  xml_node* b = xml_child(p.doc(), "B");
  EXPECT_FALSE(b->flags & xml_text_allocated);
  EXPECT_GE(b->text, p.buffer());
  EXPECT_LT(b->text, p.buffer() + 20);
}

TEST(XmlTree, ManyDifferentChildNamesAreAllFound) {
  std::string body = "<R>";
  for (int i = 0; i < 40; ++i)
    body += "<N" + std::to_string(i) + ">" + std::to_string(i) + "</N" + std::to_string(i) + ">";
  for (int i = 0; i < 40; ++i)
    body += "<N" + std::to_string(i) + ">again</N" + std::to_string(i) + ">";
  body += "</R>";
  Parsed p(body);
  ASSERT_EQ(p.error(), "");
  for (int i = 0; i < 40; ++i) {
    std::string name = "N" + std::to_string(i);
    xml_node* n = xml_child(p.doc(), name.c_str());
    ASSERT_NE(n, nullptr) << name;
    EXPECT_EQ(n->text, std::to_string(i));
    ASSERT_NE(n->next, nullptr);
    EXPECT_STREQ(n->next->text, "again");
    EXPECT_EQ(n->next->next, nullptr);
  }
}

TEST(XmlTree, DeepNestingNeedsNoRecursion) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += "<a>";
  body += "x";
  for (int i = 0; i < 100000; ++i) body += "</a>";
  Parsed p(body);
  EXPECT_EQ(p.error(), "");
}

TEST(XmlTree, CommentsInstructionsAndDocumentEndWithoutGreaterThan) {
  Parsed p("<?xml version=\"1.0\"?><!-- c --><A><?pi data?>x<!--y-->z</A>\n");
  EXPECT_EQ(p.error(), "");
  EXPECT_STREQ(p.doc()->text, "xz");
}

TEST(XmlText, WhitespaceKeptAndReferencesDecoded) {
  Parsed p(
      "<A><B> x &amp; y </B><C>&#65;&#x41;&#20013;&#x1F600;</C>"
      "<D>&lt;&gt;&quot;&apos;</D></A>");
  EXPECT_EQ(p.text({"B"}), " x & y ");
  EXPECT_EQ(p.text({"C"}), "AA\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(p.text({"D"}), "<>\"'");
}

TEST(XmlText, UnusableReferencesAreLeftAsWritten) {
  Parsed p("<A><B>&#0; &#65 &#xD800; &#1114112; &#; &nope; & x</B></A>");
  EXPECT_EQ(p.text({"B"}), "&#0; &#65 &#xD800; &#1114112; &#; &nope; & x");
}

TEST(XmlText, LineEndsBecomeLineFeeds) {
  Parsed p("<A>a\r\nb\rc<![CDATA[d\r\ne]]></A>");
  EXPECT_STREQ(p.doc()->text, "a\nb\ncd\ne");
}

TEST(XmlAttributes, ListValuesAndFlags) {
  Parsed p("<A x=\"1 &amp; 2\" y='a\tb\nc' z w=\"&#10;\"><B/></A>");
  ASSERT_EQ(p.error(), "");
  char** a = p.doc()->attributes;
  EXPECT_STREQ(a[0], "x");
  EXPECT_STREQ(a[1], "1 & 2");
  EXPECT_STREQ(a[3], "a b c");  // whitespace becomes blanks
  EXPECT_STREQ(a[4], "z");
  EXPECT_STREQ(a[5], "");
  EXPECT_STREQ(a[7], "\n");  // a character reference is kept
  EXPECT_EQ(a[8], nullptr);
  EXPECT_STREQ(a[9], "0000");
  char** empty = xml_child(p.doc(), "B")->attributes;
  EXPECT_EQ(empty[0], nullptr);
  EXPECT_STREQ(empty[1], "");
}

struct ErrorCase {
  const char* body;
  const char* error;
};

class XmlErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(XmlErrors, GiveTheirMessage) {
  Parsed p(GetParam().body);
  ASSERT_NE(p.doc(), nullptr);
  EXPECT_EQ(p.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    AllMessages, XmlErrors,
    testing::Values(
        ErrorCase{"", "[error near line 1]: root tag missing"},
        ErrorCase{"just text", "[error near line 1]: root tag missing"},
        ErrorCase{"<!-- only -->", "[error near line 1]: root tag missing"},
        ErrorCase{"<A></A><B/>", "[error near line 1]: markup outside of root element"},
        ErrorCase{"<A b=\"1></A>", "[error near line 1]: missing \""},
        ErrorCase{"<A b='1></A>", "[error near line 1]: missing '"},
        ErrorCase{"<A/x></A>", "[error near line 1]: missing >"},
        ErrorCase{"<A></A ", "[error near line 1]: missing >"},
        ErrorCase{"<A></A x>", "[error near line 1]: missing >"},
        ErrorCase{"<A><B></A>", "[error near line 1]: unexpected closing tag </A>"},
        ErrorCase{"</A>", "[error near line 1]: unexpected closing tag </A>"},
        ErrorCase{"<A><!-- a -- b --></A>", "[error near line 1]: unclosed <!--"},
        ErrorCase{"<A><![CDATA[x</A>", "[error near line 1]: unclosed <![CDATA["},
        ErrorCase{"<!DOCTYPE A [<!ENTITY x 'y'>", "[error near line 1]: unclosed <!DOCTYPE"},
        ErrorCase{"<!DOCTYPE A", "[error near line 1]: unclosed <!DOCTYPE"},
        ErrorCase{"<A><?pi x</A>", "[error near line 1]: unclosed <?"},
        ErrorCase{"<A>< B/></A>", "[error near line 1]: unexpected <"},
        ErrorCase{"<A><!FOO></A>", "[error near line 1]: unexpected <"},
        ErrorCase{"<A><B>", "[error near line 1]: unclosed tag <B>"},
        ErrorCase{"<!DOCTYPE A [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><A/>",
                  "[error near line 1]: circular entity declaration &b"},
        ErrorCase{"<!DOCTYPE A [<!ENTITY a 'x&a;'>]><A/>",
                  "[error near line 1]: circular entity declaration &a"},
        ErrorCase{"<!DOCTYPE A [<!ENTITY % p '%p;'>]><A/>",
                  "[error near line 1]: circular entity declaration &p"},
        ErrorCase{"<!DOCTYPE A [<!ATTLIST A b CDATA ", "[error near line 1]: unclosed <!ATTLIST"},
        ErrorCase{"<!DOCTYPE A [<!ATTLIST A b (x|y ", "[error near line 1]: unclosed <!ATTLIST"},
        ErrorCase{"<!DOCTYPE A [<!ATTLIST A b CDATA junk>]><A/>",
                  "[error near line 1]: malformed <!ATTLIST"},
        ErrorCase{"<!DOCTYPE A [<!ATTLIST A b CDATA #FIXED>]><A/>",
                  "[error near line 1]: malformed <!ATTLIST"},
        ErrorCase{"<!DOCTYPE A [<!ATTLIST >]><A/>", "[error near line 1]: malformed <!ATTLIST"},
        ErrorCase{"<A>\n<B>\r\n</A>", "[error near line 3]: unexpected closing tag </A>"},
        ErrorCase{"<A>\xFF\xFE</A>", "[error near line 1]: invalid UTF-8"},
        ErrorCase{"<A>\n\n<B>\xC3</B></A>", "[error near line 3]: invalid UTF-8"},
        ErrorCase{"<A b='\x80'/>", "[error near line 1]: invalid UTF-8"},
        ErrorCase{"<A><![CDATA[\xE4\xB8]]></A>", "[error near line 1]: invalid UTF-8"},
        ErrorCase{"<A/>\xE4", "[error near line 1]: invalid UTF-8"}));

TEST(XmlUtf8, WellFormedCharactersOfEveryLengthParse) {
  Parsed p("<A>\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBF</A>");
  EXPECT_EQ(p.error(), "");
  EXPECT_STREQ(p.doc()->text, "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBF");
}

TEST(XmlErrorText, IsCutTo127Characters) {
  std::string name(300, 'N');
  Parsed p("<" + name + ">");
  std::string error = p.error();
  EXPECT_EQ(error.size(), 127u);
  EXPECT_EQ(error.rfind("[error near line 1]: unclosed tag <NNN", 0), 0u);
}

TEST(XmlErrorText, PartialTreeStaysUsable) {
  Parsed p("<A><B>1</B><C>open");
  EXPECT_EQ(p.error(), "[error near line 1]: unclosed tag <C>");
  EXPECT_EQ(p.text({"B"}), "1");
}

TEST(XmlEntities, DeclaredEntitiesExpandInTextAndAttributes) {
  Parsed p(
      "<!DOCTYPE A [\n"
      "  <!ENTITY who \"wor&end;\">\n"
      "  <!ENTITY end 'ld'>\n"
      "  <!ENTITY lt 'ignored'>\n"
      "  <!ENTITY who 'second declaration ignored'>\n"
      "  <!ENTITY less '&#38;#60;'>\n"
      "  <!ENTITY ext SYSTEM 'file.ent'>\n"
      "  <!ENTITY % pe 'from parameter'>\n"
      "  <!ENTITY usespe '%pe; &#33;'>\n"
      "  <!-- comment ]> -->\n"
      "  <!ELEMENT A ANY>\n"
      "]>\n"
      "<A a='&who;'><B>hello &who;</B><C>&less;&lt;</C><D>&usespe;</D><E>&ext;</E></A>");
  ASSERT_EQ(p.error(), "");
  EXPECT_EQ(attribute(p.doc(), "a"), "world");
  EXPECT_EQ(p.text({"B"}), "hello world");
  EXPECT_EQ(p.text({"C"}), "<<");
  EXPECT_EQ(p.text({"D"}), "from parameter !");
  EXPECT_EQ(p.text({"E"}), "&ext;");
}

TEST(XmlEntities, ParameterReferenceStopsDeclarationsUnlessStandalone) {
  const char* subset = "<!DOCTYPE A [ %ext; <!ENTITY e 'declared'> ]><A>&e;</A>";
  Parsed plain(subset);
  EXPECT_STREQ(plain.doc()->text, "&e;");
  Parsed standalone(std::string("<?xml version='1.0' standalone='yes'?>") + subset);
  EXPECT_STREQ(standalone.doc()->text, "declared");
}

TEST(XmlEntities, ExpansionBombIsStoppedWithAnError) {
  std::string body = "<!DOCTYPE A [<!ENTITY a0 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>";
  for (int i = 1; i < 12; ++i) {
    std::string ref = "&a" + std::to_string(i - 1) + ";";
    std::string value;
    for (int j = 0; j < 10; ++j) value += ref;
    body += "<!ENTITY a" + std::to_string(i) + " '" + value + "'>";
  }
  body += "]><A>&a11;</A>";
  Parsed p(body);
  EXPECT_EQ(p.error(), "[error near line 1]: entity expansion too large");
}

TEST(XmlEntities, ParameterBombIsStoppedWhileDeclaring) {
  std::string body = "<!DOCTYPE A [<!ENTITY % a0 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>";
  for (int i = 1; i < 12; ++i) {
    std::string ref = "%a" + std::to_string(i - 1) + ";";
    std::string value;
    for (int j = 0; j < 10; ++j) value += ref;
    body += "<!ENTITY % a" + std::to_string(i) + " '" + value + "'>";
  }
  body += "]><A/>";
  Parsed p(body);
  EXPECT_EQ(p.error(), "[error near line 1]: entity expansion too large");
}

TEST(XmlEntities, CircularityCheckOfForwardReferencedChainsIsBounded) {
  // h names every e ahead of its declaration, so each new e is checked
  // through the whole chain before it; that work is bounded too.
  std::string body = "<!DOCTYPE A [<!ENTITY h \"";
  for (int i = 0; i < 600; ++i) body += "&e" + std::to_string(i) + ";";
  body += "\">";
  for (int i = 0; i < 600; ++i) {
    body += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
  }
  body += "]><A/>";
  Parsed p(body);
  EXPECT_EQ(p.error(), "[error near line 1]: entity expansion too large");
}

TEST(XmlEntities, LongChainsOfOrdinaryDeclarationsWork) {
  std::string body = "<!DOCTYPE A [<!ENTITY e0 'x'>";
  for (int i = 1; i < 300; ++i) {
    body += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
  }
  body += "]><A>&e299;</A>";
  Parsed p(body);
  EXPECT_EQ(p.error(), "");
  EXPECT_STREQ(p.doc()->text, "x");
}

TEST(XmlEntities, LoopBuiltAcrossEntityBoundariesEnds) {
  // Neither value names x on its own, but "&z;x;" rebuilds "&x;" forever.
  Parsed p("<!DOCTYPE A [<!ENTITY z '&#38;'><!ENTITY x '&z;x;'>]><A>&x;</A>");
  EXPECT_EQ(p.error(), "[error near line 1]: entity expansion too large");
}

TEST(XmlAttlist, DeclaredTypesNormaliseValues) {
  Parsed p(
      "<!DOCTYPE A [<!ATTLIST A\n"
      "  list NMTOKENS #IMPLIED\n"
      "  kind (one|two) 'one'\n"
      "  note NOTATION (n) #REQUIRED\n"
      "  plain CDATA #IMPLIED\n"
      "  fixed CDATA #FIXED ' f '>\n"
      "<!ATTLIST B id ID #IMPLIED>]>\n"
      "<A list='  a \t b\n  ' kind=' two ' note=' n ' plain='  p  q '><B id=' i '/></A>");
  ASSERT_EQ(p.error(), "");
  EXPECT_EQ(attribute(p.doc(), "list"), "a b");
  EXPECT_EQ(attribute(p.doc(), "kind"), "two");
  EXPECT_EQ(attribute(p.doc(), "note"), "n");
  EXPECT_EQ(attribute(p.doc(), "plain"), "  p  q ");
  EXPECT_EQ(attribute(xml_child(p.doc(), "B"), "id"), "i");
}

TEST(XmlUtf16, BothByteOrdersWithSurrogatePairs) {
  std::u16string text = u"<A>\u4E2D\U0001F600<B x='\u00E9'/></A>";
  for (bool big_endian : {true, false}) {
    Parsed p(utf16(text, big_endian));
    ASSERT_EQ(p.error(), "") << big_endian;
    EXPECT_STREQ(p.doc()->text, "\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(attribute(xml_child(p.doc(), "B"), "x"), "\xC3\xA9");
  }
}

TEST(XmlUtf16, UnpairedSurrogatesAndOddBytesAreSafe) {
  std::u16string text = u"<A>x</A>";
  text.insert(3, 1, char16_t{0xD800});
  Parsed p(utf16(text, true) + "\x01");
  ASSERT_EQ(p.error(), "");
  EXPECT_STREQ(p.doc()->text, "\xEF\xBF\xBDx");
  Parsed bom_only("\xFF\xFE");
  EXPECT_EQ(bom_only.error(), "[error near line 1]: root tag missing");
  Parsed error(utf16(u"<A>\n</B>", false));
  EXPECT_EQ(error.error(), "[error near line 2]: unexpected closing tag </B>");
}

const char* const kSample =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<!DOCTYPE CFG [<!ENTITY v '1.0'><!ENTITY % p 'x'><!ATTLIST CFG m NMTOKEN 'a'>]>\n"
    "<CFG m=\" b \" n='&amp;'><!-- c --><SSID>net &v; &#20013;</SSID>\r\n"
    "<KEY><![CDATA[a]]b]]></KEY><?pi t?><E/><E a=\"1\"/></CFG>";

TEST(XmlTruncation, EveryPrefixOfASampleGivesAnError) {
  std::string sample = kSample;
  {
    Parsed whole(sample);
    ASSERT_EQ(whole.error(), "");
    EXPECT_EQ(whole.text({"SSID"}), "net 1.0 \xE4\xB8\xAD");
    EXPECT_EQ(whole.text({"KEY"}), "a]]b");
  }
  for (size_t length = 0; length < sample.size(); ++length) {
    Parsed p(sample.substr(0, length));
    ASSERT_NE(p.doc(), nullptr) << length;
    EXPECT_NE(p.error(), "") << length;
  }
}

TEST(XmlTruncation, EveryPrefixOfAUtf16SampleIsSafe) {
  std::string sample = utf16(u"<A b='\u00E9'>\U0001F600<!--x--></A>", false);
  for (size_t length = 0; length < sample.size(); ++length) {
    Parsed p(sample.substr(0, length));
    ASSERT_NE(p.doc(), nullptr) << length;
    EXPECT_NE(p.error(), "") << length;
  }
}

}  // namespace
