#pragma once

#include <cstdint>

namespace Marvane {

// An intrusive doubly linked list over nodes that carry `next` and `previous` pointers. The list
// owns nothing: nodes live wherever their owner put them. All-zero bytes are a valid empty list.
template <class Node> struct LinkedList {
    Node* head = nullptr;
    Node* tail = nullptr;
    std::uint32_t count = 0;

    void PushBack(Node* node) {
        node->next = nullptr;
        node->previous = tail;
        if (tail != nullptr)
            tail->next = node;
        else
            head = node;
        tail = node;
        ++count;
    }

    void Unlink(Node* node) {
        if (node->previous != nullptr)
            node->previous->next = node->next;
        else
            head = node->next;
        if (node->next != nullptr)
            node->next->previous = node->previous;
        else
            tail = node->previous;
        node->next = nullptr;
        node->previous = nullptr;
        --count;
    }

    Node* PopFront() {
        Node* node = head;
        if (node != nullptr) Unlink(node);
        return node;
    }

    bool IsEmpty() const { return head == nullptr; }
};

} // namespace Marvane
