#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Array.h"
#include "Marvane/Error.h"
#include "Marvane/LinkedList.h"
#include "Marvane/Platform/CriticalSection.h"

#include <cstdint>

namespace Marvane {

// A bounded queue over a fixed pool of items: Initialize creates every item once, so pushing and
// taking never allocate. Waiting items keep their scheduling order; taking picks the best-rated one.
// Every operation takes the queue's own lock.
template <class T> class Queue {
  public:
    struct QueueItem {
        T job;
        QueueItem* next;
        QueueItem* previous;
    };

    Queue() = default;
    ~Queue() { Release(); }
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // Creates `capacity` zeroed items and links them into the free list in array order.
    Error::Enum Initialize(std::uint32_t capacity) {
        Held held(m_lock);
        const Error::Enum result = m_items.InitializeInternal(capacity, 0, AllocationCategory::Generic);
        if (result != Error::Ok) return result;
        for (std::uint32_t i = 0; i < m_items.GetCount(); ++i)
            m_free.PushBack(&m_items[i]);
        m_capacity = capacity;
        return Error::Ok;
    }

    // Empties both lists and gives the pool back.
    void Release() {
        Held held(m_lock);
        m_waiting = {};
        m_free = {};
        m_items.ReleaseInternal();
        m_capacity = 0;
    }

    // Appends `job` to the waiting list; false when every item is in use.
    bool Push(const T& job) {
        Held held(m_lock);
        QueueItem* item = m_free.PopFront();
        if (item == nullptr) return false;
        item->job = job;
        m_waiting.PushBack(item);
        return true;
    }

    // Takes the waiting job with the highest rating (the earliest among equals) into `job`; false
    // when nothing waits. `rate` runs under the queue's lock, once per waiting job.
    template <class Rate> bool TakeBest(Rate rate, T& job) {
        Held held(m_lock);
        QueueItem* best = m_waiting.head;
        if (best == nullptr) return false;
        // The head is rated even when it waits alone: a client may count or log the ratings.
        auto bestRating = rate(best->job);
        for (QueueItem* item = best->next; item != nullptr; item = item->next) {
            const auto rating = rate(item->job);
            if (rating > bestRating) {
                best = item;
                bestRating = rating;
            }
        }
        m_waiting.Unlink(best);
        m_free.PushBack(best);
        job = best->job;
        return true;
    }

    std::uint32_t GetWaitingCount() {
        Held held(m_lock);
        return m_waiting.count;
    }
    std::uint32_t GetCapacity() const { return m_capacity; }

  private:
    using Lock = Platform::CriticalSection;
    using Held = Platform::ScopedCriticalSection;

    ArrayBase<QueueItem, 1> m_items;
    LinkedList<QueueItem> m_waiting;
    LinkedList<QueueItem> m_free;
    std::uint32_t m_capacity = 0;
    Lock m_lock;
};

} // namespace Marvane
