#include "geomlib/g_part.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Nodes and elements that log their destruction, so ownership can be observed.
struct LoggingNode : g_node {
    explicit LoggingNode(std::vector<char>* aLog) : log(aLog) {}
    ~LoggingNode() override { log->push_back('n'); }
    std::vector<char>* log;
};

struct LoggingElement : g_element {
    explicit LoggingElement(std::vector<char>* aLog) : log(aLog) {}
    ~LoggingElement() override { log->push_back('e'); }
    std::vector<char>* log;
};

TEST(GPart, NumbersNodesAndElementsFromOne) {
    g_part part;
    std::vector<g_node*> nodes;
    for (int i = 0; i < 12; ++i) {
        nodes.push_back(new g_node(g_vector(i, 0, 0)));
        part.addNode(nodes.back());
        EXPECT_EQ(nodes.back()->getId(), i + 1);
    }
    EXPECT_EQ(part.getNode(1), nodes[0]);
    EXPECT_EQ(part.getNode(12), nodes[11]);
    EXPECT_THROW(part.getNode(0), Fatal_Error);
    EXPECT_THROW(part.getNode(13), Fatal_Error);
    EXPECT_THROW(part.getNode(-1), Fatal_Error);

    auto* e1 = new g_element();
    auto* e2 = new g_element();
    part.addElement(e1);
    part.addElement(e2);
    EXPECT_EQ(e1->getId(), 1);
    EXPECT_EQ(e2->getId(), 2);
    ASSERT_EQ(e2->parts().numberOfItems(), 1u);
    EXPECT_EQ(e2->parts().item(0), &part);
    EXPECT_EQ(part.elements().numberOfItems(), 2u);
    EXPECT_EQ(part.nodes().numberOfItems(), 12u);
}

TEST(GPart, EmptyPartHasNoNodeOne) {
    g_part part;
    EXPECT_THROW(part.getNode(1), Fatal_Error);
    std::unique_ptr<g_part> made(part.create());
    EXPECT_TRUE(made->nodes().isEmpty());
    EXPECT_TRUE(made->elements().isEmpty());
}

TEST(GPart, DestructorDeletesElementsThenNodes) {
    std::vector<char> log;
    {
        g_part part;
        auto* n1 = new LoggingNode(&log);
        auto* n2 = new LoggingNode(&log);
        auto* n3 = new LoggingNode(&log);
        part.addNode(n1);
        part.addNode(n2);
        part.addNode(n3);
        auto* t = new LoggingElement(&log);
        t->addNode(n1);
        t->addNode(n2);
        t->addNode(n3);
        part.addElement(t);
        part.addElement(new LoggingElement(&log));
    }
    EXPECT_EQ(log, (std::vector<char>{'e', 'e', 'n', 'n', 'n'}));
}

TEST(GPart, ClearElementsKeepsNodesAndRestartsNumbering) {
    std::vector<char> log;
    g_part part;
    auto* n = new LoggingNode(&log);
    part.addNode(n);
    part.addElement(new LoggingElement(&log));
    part.addElement(new LoggingElement(&log));
    part.clearElements();
    EXPECT_EQ(log, (std::vector<char>{'e', 'e'}));
    EXPECT_TRUE(part.elements().isEmpty());
    EXPECT_EQ(part.getNode(1), n);
    auto* again = new g_element();
    part.addElement(again);
    EXPECT_EQ(again->getId(), 1);
}

// A part subclass is destroyed through a base pointer without leaking.
TEST(GPart, DerivedPartDestroysThroughBasePointer) {
    struct TaggedPart : g_part {
        std::vector<int> payload = std::vector<int>(100, 1);
    };
    std::unique_ptr<g_part> part = std::make_unique<TaggedPart>();
    part->addNode(new g_node());
    part.reset();
    SUCCEED();
}

}  // namespace
