#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "KRExport.h"

namespace KRC {

//! Doubly linked list of the host: a sentinel node that closes the ring, then
//! the element count. Shared with the host, so the layout is fixed.
template <class T>
class KR_API_EXPORT KRList {
    struct NodeBase {
        NodeBase* next;
        NodeBase* prev;
    };
    struct Node : NodeBase {
        T value;
    };

public:
    class ConstIterator {
    public:
        explicit ConstIterator(const NodeBase* node) : m_pNode(node) {}
        const T& operator*() const { return static_cast<const Node*>(m_pNode)->value; }
        ConstIterator& operator++()
        {
            m_pNode = m_pNode->next;
            return *this;
        }
        bool operator!=(const ConstIterator& other) const { return m_pNode != other.m_pNode; }

    private:
        const NodeBase* m_pNode;
    };

    KRList();
    KRList(const KRList& other);
    KRList(KRList&& other);
    ~KRList();

    KRList& operator=(const KRList& other);
    KRList& operator=(KRList&& other);

    void AddTail(const T& value);
    void AddHead(const T& value);
    void RemoveAll();
    std::uint64_t GetCount() const;
    bool IsEmpty() const;

    ConstIterator begin() const { return ConstIterator(m_pHead->next); }
    ConstIterator end() const { return ConstIterator(m_pHead); }

private:
    static NodeBase* NewSentinel();
    static Node* NewNode(const T& value);
    static void FreeNode(NodeBase* node);
    void InsertBefore(NodeBase* position, NodeBase* node);
    void FreeElementNodes();

    NodeBase* m_pHead;
    std::uint64_t m_nCount;
};

template <class T>
KRList<T>::KRList() : m_pHead(NewSentinel()), m_nCount(0)
{
}

template <class T>
KRList<T>::KRList(const KRList& other) : m_pHead(NewSentinel()), m_nCount(0)
{
    try {
        for (const T& value : other)
            AddTail(value);
    } catch (...) {
        FreeElementNodes();
        ::operator delete(m_pHead);
        throw;
    }
}

template <class T>
KRList<T>::KRList(KRList&& other) : m_pHead(other.m_pHead), m_nCount(other.m_nCount)
{
    // Take the ring only once the source's replacement sentinel exists.
    NodeBase* fresh = NewSentinel();
    other.m_pHead = fresh;
    other.m_nCount = 0;
}

template <class T>
KRList<T>::~KRList()
{
    FreeElementNodes();
    ::operator delete(m_pHead);
}

template <class T>
KRList<T>& KRList<T>::operator=(const KRList& other)
{
    if (this == &other)
        return *this;
    NodeBase* mine = m_pHead->next;
    const NodeBase* theirs = other.m_pHead->next;
    while (mine != m_pHead && theirs != other.m_pHead) {
        static_cast<Node*>(mine)->value = static_cast<const Node*>(theirs)->value;
        mine = mine->next;
        theirs = theirs->next;
    }
    while (mine != m_pHead) { // surplus target nodes
        NodeBase* next = mine->next;
        mine->prev->next = next;
        next->prev = mine->prev;
        FreeNode(mine);
        --m_nCount;
        mine = next;
    }
    while (theirs != other.m_pHead) { // missing ones
        AddTail(static_cast<const Node*>(theirs)->value);
        theirs = theirs->next;
    }
    return *this;
}

template <class T>
KRList<T>& KRList<T>::operator=(KRList&& other)
{
    if (this == &other)
        return *this;
    RemoveAll();
    std::swap(m_pHead, other.m_pHead);
    std::swap(m_nCount, other.m_nCount);
    return *this;
}

template <class T>
void KRList<T>::AddTail(const T& value)
{
    InsertBefore(m_pHead, NewNode(value));
}

template <class T>
void KRList<T>::AddHead(const T& value)
{
    InsertBefore(m_pHead->next, NewNode(value));
}

template <class T>
void KRList<T>::RemoveAll()
{
    FreeElementNodes();
    m_pHead->next = m_pHead;
    m_pHead->prev = m_pHead;
    m_nCount = 0;
}

template <class T>
std::uint64_t KRList<T>::GetCount() const
{
    return m_nCount;
}

template <class T>
bool KRList<T>::IsEmpty() const
{
    return m_nCount == 0;
}

template <class T>
typename KRList<T>::NodeBase* KRList<T>::NewSentinel()
{
    auto* node = static_cast<NodeBase*>(::operator new(sizeof(NodeBase)));
    node->next = node;
    node->prev = node;
    return node;
}

template <class T>
typename KRList<T>::Node* KRList<T>::NewNode(const T& value)
{
    void* raw = ::operator new(sizeof(Node));
    Node* node = static_cast<Node*>(raw);
    try {
        ::new (static_cast<void*>(&node->value)) T(value);
    } catch (...) {
        ::operator delete(raw);
        throw;
    }
    node->next = node->prev = nullptr;
    return node;
}

template <class T>
void KRList<T>::FreeNode(NodeBase* node)
{
    static_cast<Node*>(node)->value.~T();
    ::operator delete(static_cast<void*>(node));
}

template <class T>
void KRList<T>::InsertBefore(NodeBase* position, NodeBase* node)
{
    node->next = position;
    node->prev = position->prev;
    position->prev->next = node;
    position->prev = node;
    ++m_nCount;
}

template <class T>
void KRList<T>::FreeElementNodes()
{
    NodeBase* node = m_pHead->next;
    m_pHead->prev->next = nullptr; // break the ring
    while (node != nullptr && node != m_pHead) {
        NodeBase* next = node->next;
        FreeNode(node);
        node = next;
    }
    m_pHead->next = m_pHead;
    m_pHead->prev = m_pHead;
}

} // namespace KRC
