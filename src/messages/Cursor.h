// The classic walks (VMsg::getTag over the tags, VMsg::getNextSegment over
// the segments) hand out the node their cursor stands on and step past it.
#ifndef VMSG_SRC_MESSAGES_CURSOR_H
#define VMSG_SRC_MESSAGES_CURSOR_H

namespace vmsg::detail {

/// Returns the node @p cursor stands on (null at the end) and moves the
/// cursor to the node after it, reached through the link @p next.
template <class Node>
Node* takeAndAdvance(Node*& cursor, Node* Node::*next)
{
    Node* node = cursor;
    if (node)
        cursor = node->*next;
    return node;
}

} // namespace vmsg::detail

#endif
