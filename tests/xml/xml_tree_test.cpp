#include <gtest/gtest.h>

#include "xml/xml_tree.h"

using namespace brindle;

TEST(XmlTree, NodeKindsCarryTheirCodesAndBaseOperationsReadAsNothing) {
  auto element = NewElement(L"E");
  auto text = NewText(L"t");
  auto attribute = NewAttribute(L"a", L"v");
  auto document = NewDocument(NewElement(L"Root"));
  EXPECT_EQ(document->nodeType, 1);
  EXPECT_EQ(element->nodeType, 2);
  EXPECT_EQ(attribute->nodeType, 3);
  EXPECT_EQ(text->nodeType, 7);

  EXPECT_EQ(document->GetName(), nullptr);
  EXPECT_EQ(document->GetValue(), nullptr);
  EXPECT_EQ(document->GetChildCount(), 0u);
  EXPECT_EQ(document->GetChild(0), nullptr);
  ASSERT_NE(document->GetRoot(), nullptr);
  EXPECT_STREQ(document->GetRoot()->GetName(), L"Root");

  text->SetName(L"ignored");
  EXPECT_EQ(text->GetName(), nullptr);
  EXPECT_EQ(text->GetNameString(), nullptr);
  EXPECT_EQ(element->GetTag(), 0);
  EXPECT_EQ(element->GetAuxText(), nullptr);
  EXPECT_EQ(AsElement(text.get()), nullptr);
  EXPECT_EQ(AsDocument(element.get()), nullptr);
  EXPECT_EQ(AsDocument(document.get()), document.get());
}

TEST(XmlTree, ChildIndexOutOfRangeIsNullAndAChildlessElementHasNoValue) {
  auto element = NewElement(L"E");
  EXPECT_EQ(element->GetChildCount(), 0u);
  EXPECT_EQ(element->GetChild(0), nullptr);
  EXPECT_EQ(element->GetValue(), nullptr);
  EXPECT_EQ(element->GetValueString(), nullptr);
  EXPECT_EQ(ValueText(element.get()), L"");

  AppendChild(NewText(L"a"), element.get());
  AppendChild(NewElement(L"B"), element.get());
  EXPECT_EQ(element->GetChildCount(), 2u);
  EXPECT_NE(element->GetChild(1), nullptr);
  EXPECT_EQ(element->GetChild(2), nullptr);
  EXPECT_EQ(element->GetChild(~0u), nullptr);
}

TEST(XmlTree, EmptyTextIsNotNoText) {
  auto element = NewTextElement(L"Version", L"");
  ASSERT_EQ(element->GetChildCount(), 1u);
  EXPECT_EQ(element->GetChild(0)->nodeType, XML_NODE_TEXT);
  ASSERT_NE(element->GetValue(), nullptr);
  EXPECT_STREQ(element->GetValue(), L"");
  ASSERT_NE(element->GetValueString(), nullptr);
  EXPECT_TRUE(element->GetValueString()->empty());

  CXMLAttribute unset;
  EXPECT_EQ(unset.GetName(), nullptr);
  EXPECT_EQ(unset.GetValue(), nullptr);
  unset.SetValue(L"");
  EXPECT_STREQ(unset.GetValue(), L"");
}

TEST(XmlTree, SetValueForwardsToTheFirstChildAndNeverAddsASecondText) {
  auto element = NewElement(L"E");
  element->SetValue(L"first");
  element->SetValue(L"second");
  ASSERT_EQ(element->GetChildCount(), 1u);
  EXPECT_STREQ(element->GetValue(), L"second");

  // The first child is an element: the value goes to that child's text.
  auto outer = NewElement(L"Outer");
  CXMLElement* inner = AsElement(AppendChild(NewTextElement(L"Inner", L"old"), outer.get()));
  AppendChild(NewText(L"tail"), outer.get());
  outer->SetValue(L"new");
  EXPECT_EQ(outer->GetChildCount(), 2u);
  EXPECT_EQ(inner->GetChildCount(), 1u);
  EXPECT_STREQ(inner->GetValue(), L"new");
  EXPECT_STREQ(outer->GetValue(), L"new");

  // A childless first-child element gains the text child.
  auto parent = NewElement(L"P");
  CXMLElement* empty = AsElement(AppendChild(NewElement(L"Empty"), parent.get()));
  parent->SetValue(L"v");
  EXPECT_EQ(parent->GetChildCount(), 1u);
  ASSERT_EQ(empty->GetChildCount(), 1u);
  EXPECT_STREQ(empty->GetValue(), L"v");
}

TEST(XmlTree, AttributesKeepOrderAndDuplicatesAndAreFoundByExactName) {
  auto element = NewElement(L"File");
  AppendAttribute(element.get(), L"DelInfo", L"INST_DEL");
  AppendAttribute(element.get(), L"COM", L"INST_REG");
  AppendAttribute(element.get(), L"DelInfo", L"INST_REF");
  AppendAttribute(std::make_unique<CXMLAttribute>(), element.get());  // no name
  ASSERT_EQ(element->GetAttributeCount(), 4u);
  EXPECT_STREQ(element->GetAttribute(1)->GetName(), L"COM");
  EXPECT_EQ(element->GetAttribute(4), nullptr);

  CXMLAttribute* found = FindAttribute(element.get(), L"DelInfo");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->GetValue(), L"INST_DEL");
  EXPECT_EQ(FindAttribute(element.get(), L"delinfo"), nullptr);
  EXPECT_EQ(FindAttribute(element.get(), L"Del"), nullptr);
  EXPECT_EQ(FindAttribute(element.get(), L""), nullptr);
  EXPECT_EQ(FindAttribute(NewElement(L"Bare").get(), L"COM"), nullptr);
  EXPECT_EQ(FindAttribute(nullptr, L"COM"), nullptr);
}

TEST(XmlTree, ElementNamesAreMatchedExactly) {
  auto element = NewElement(L"DiffDistribute");
  EXPECT_TRUE(IsElementNamed(element.get(), L"DiffDistribute"));
  EXPECT_FALSE(IsElementNamed(element.get(), L"diffdistribute"));
  EXPECT_FALSE(IsElementNamed(element.get(), L"DiffDistributeX"));
  EXPECT_FALSE(IsElementNamed(NewText(L"DiffDistribute").get(), L"DiffDistribute"));
  EXPECT_FALSE(IsElementNamed(nullptr, L"DiffDistribute"));
}

TEST(XmlTree, VeryDeepTreesAreReadAndDestroyedWithoutExhaustingTheStack) {
  auto root = NewElement(L"e");
  CXMLElement* tip = root.get();
  for (int i = 0; i < 200000; ++i) {
    tip = AsElement(AppendChild(NewElement(L"e"), tip));
    AppendAttribute(tip, L"level", L"x");
  }
  tip->SetValue(L"bottom");
  EXPECT_STREQ(root->GetValue(), L"bottom");
  root->SetValue(L"changed");
  EXPECT_STREQ(tip->GetValue(), L"changed");
  auto document = NewDocument(std::move(root));
  document.reset();  // the sanitizers check each node is freed exactly once
  SUCCEED();
}
