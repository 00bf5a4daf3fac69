#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "geomlib/fatal_error.h"

namespace g_detail {

// Ordering of container items for sortUnique and intersection. Pointers to
// mesh entities (anything with a serial(), i.e. g_node, g_element and their
// subclasses) are ordered by creation serial so that results do not depend on
// heap addresses; other pointers by address, other values by operator<.
template <class T>
bool itemLess(const T& a, const T& b) {
    if constexpr (std::is_pointer_v<T>) {
        using P = std::remove_cv_t<std::remove_pointer_t<T>>;
        if constexpr (std::is_class_v<P>) {
            static_assert(requires { sizeof(P); },
                          "ordering pointers needs the complete pointee type (include its header)");
            if constexpr (requires(const P* p) {
                              { p->serial() } -> std::convertible_to<uint64_t>;
                          }) {
                if (a != nullptr && b != nullptr) {
                    const uint64_t sa = a->serial();
                    const uint64_t sb = b->serial();
                    if (sa != sb) return sa < sb;
                }
            }
        }
        return std::less<T>{}(a, b);
    } else {
        return a < b;
    }
}

}  // namespace g_detail

// A growable ring of item slots. One slot always stays free, so a container of
// n slots holds at most n - 1 items. Removal moves the last item into the gap,
// so the order after removals is fully determined. The container never owns
// what its (pointer) items point to.
template <class T>
class g_container {
public:
    g_container() { allocate(g_DEFAULT_SIZE); }

    g_container(const g_container& other) { copyFrom(other); }

    // A moved-from container is left as a valid, empty default container.
    g_container(g_container&& other)
        : container_array(std::move(other.container_array)),
          container_size(other.container_size),
          firstIndex(other.firstIndex),
          lastIndex(other.lastIndex) {
        other.allocate(g_DEFAULT_SIZE);
    }

    g_container& operator=(const g_container& other) {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        G_CHECK(container_array != nullptr, "container_array != 0", "NULL array detected");
        if (this == &other) return *this;
        copyFrom(other);
        return *this;
    }

    g_container& operator=(g_container&& other) {
        if (this == &other) return *this;
        container_array = std::move(other.container_array);
        container_size = other.container_size;
        firstIndex = other.firstIndex;
        lastIndex = other.lastIndex;
        other.allocate(g_DEFAULT_SIZE);
        return *this;
    }

    ~g_container() = default;

    void clear() {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        firstIndex = 1;
        lastIndex = 0;
    }

    bool isEmpty() const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        return nextSlot(lastIndex) == firstIndex;
    }

    bool isFull() const {
        G_CHECK(container_size >= g_DEFAULT_SIZE, "container_size >= g_DEFAULT_SIZE",
                "Size is less than minimium allowed.");
        return (lastIndex + 2) % container_size == firstIndex;
    }

    uint32_t numberOfItems() const {
        if (isEmpty()) return 0;
        if (lastIndex >= firstIndex) return lastIndex - firstIndex + 1;
        return lastIndex - firstIndex + container_size + 1;
    }

    T& item(uint32_t index) {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        G_CHECK(index < numberOfItems(), "index < numberOfItems()", "Index out of range.");
        return container_array[slotOf(index)];
    }

    const T& item(uint32_t index) const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        G_CHECK(index < numberOfItems(), "index < numberOfItems()", "Index out of range.");
        return container_array[slotOf(index)];
    }

    void append(const T& x) {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        if (isFull()) {
            T copy = x;  // x may live in this container's slots
            grow();
            lastIndex = nextSlot(lastIndex);
            container_array[lastIndex] = copy;
            return;
        }
        lastIndex = nextSlot(lastIndex);
        container_array[lastIndex] = x;
    }

    bool removeFirst(T& out) {
        if (isEmpty()) return false;
        out = container_array[firstIndex];
        firstIndex = nextSlot(firstIndex);
        return true;
    }

    bool find(const T& x, uint32_t& position) const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        const uint32_t n = numberOfItems();
        uint32_t slot = firstIndex;
        for (uint32_t i = 0; i < n; ++i) {
            if (container_array[slot] == x) {
                position = i;
                return true;
            }
            slot = nextSlot(slot);
        }
        return false;
    }

    bool memberOf(const T& x) const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        uint32_t position = 0;
        return find(x, position);
    }

    bool removeAt(uint32_t position, T& out) {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        if (position >= numberOfItems()) return false;
        const uint32_t slot = slotOf(position);
        out = container_array[slot];
        if (slot != lastIndex) container_array[slot] = container_array[lastIndex];
        lastIndex = (lastIndex == 0) ? container_size - 1 : lastIndex - 1;
        return true;
    }

    bool remove(const T& x) {
        uint32_t position = 0;
        if (!find(x, position)) return false;
        T out{};
        return removeAt(position, out);
    }

    // The items in order in a new array, or null when empty.
    std::unique_ptr<T[]> toArray() const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        const uint32_t numItems = numberOfItems();
        if (numItems == 0) return nullptr;
        std::unique_ptr<T[]> result(new (std::nothrow) T[numItems]);
        if (!result) G_FAIL_ALLOC("Out of memory.");
        uint32_t j = 0;
        for (uint32_t slot = firstIndex; slot != nextSlot(lastIndex); slot = nextSlot(slot)) {
            G_CHECK(j < numItems, "j < numItems", "Index out of bound");
            result[j++] = container_array[slot];
        }
        return result;
    }

    // Sorts ascending (mesh entities by creation serial, other pointers by
    // address) and drops repeats. Afterwards the first item is in slot 1.
    void sortUnique() {
        const uint32_t n = numberOfItems();
        std::unique_ptr<T[]> items = toArray();
        clear();
        if (n == 0) return;
        std::sort(items.get(), items.get() + n, g_detail::itemLess<T>);
        for (uint32_t i = 0; i < n; ++i) {
            if (i == 0 || !(items[i] == items[i - 1])) append(items[i]);
        }
    }

    // Appends other's items in order. When the combined count reaches the
    // slot count, first reallocates to floor((m + 1) * 1.25) slots for the
    // combined count m.
    void appendAll(const g_container& other) {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        if (other.isEmpty()) return;
        if (&other == this) {
            const g_container copy(other);
            appendAll(copy);
            return;
        }
        const uint32_t slots = slotsAfterAppendAll(container_size, numberOfItems(), other.numberOfItems());
        if (slots != container_size) resize(slots);
        const uint32_t stop = other.nextSlot(other.lastIndex);
        for (uint32_t slot = other.firstIndex; slot != stop; slot = other.nextSlot(slot)) {
            append(other.container_array[slot]);
        }
    }

    // The slot count appendAll leaves in a container of `slots` slots holding
    // `own` items when `theirs` more are appended.
    static uint32_t slotsAfterAppendAll(uint32_t slots, uint32_t own, uint32_t theirs) {
        if (theirs == 0 || own + theirs < slots) return slots;
        const double combined = static_cast<double>(own) + static_cast<double>(theirs);
        return static_cast<uint32_t>(std::floor((combined + 1.0) * 1.25));
    }

    uint32_t maxIndex() const {
        G_CHECK(container_size > 0, "container_size > 0", "Size equals to 0");
        return container_size - 1;
    }

    uint32_t containerSize() const { return container_size; }
    uint32_t firstSlot() const { return firstIndex; }
    uint32_t lastSlot() const { return lastIndex; }

private:
    friend class g_element;

    // Obtains arraySize fresh slots and empties the container. The previous
    // array, if any, is released by the unique_ptr.
    void allocate(uint32_t arraySize) {
        G_CHECK(arraySize > 1, "arraySize > 1", "Try to allocate too small an array.");
        std::unique_ptr<T[]> slots(new (std::nothrow) T[arraySize]());
        if (!slots) G_FAIL_ALLOC("Out of memory.");
        container_array = std::move(slots);
        container_size = arraySize;
        clear();
    }

    void copyFrom(const g_container& other) {
        G_CHECK(other.container_size > 1, "arraySize > 1", "Try to allocate too small an array.");
        std::unique_ptr<T[]> slots(new (std::nothrow) T[other.container_size]());
        if (!slots) G_FAIL_ALLOC("Out of memory.");
        std::unique_ptr<T[]> old = std::move(container_array);
        container_array = std::move(slots);
        container_size = other.container_size;
        clear();
        copyRing(other.container_array.get(), other.firstIndex, other.lastIndex, other.container_size);
    }

    void grow() {
        const double scaled = std::ceil(static_cast<double>(container_size) * 1.25);
        uint32_t newSize = static_cast<uint32_t>(scaled);
        if (newSize < container_size + 3) newSize = container_size + 3;
        resize(newSize);
    }

    // Moves the items in order into newSize fresh slots (first lands in slot 1).
    void resize(uint32_t newSize) {
        G_CHECK(newSize > container_size, "newSize > container_size",
                "New size must be larger than old size.");
        std::unique_ptr<T[]> oldArray = std::move(container_array);
        const uint32_t oldFirst = firstIndex;
        const uint32_t oldLast = lastIndex;
        const uint32_t oldSize = container_size;
        std::unique_ptr<T[]> slots(new (std::nothrow) T[newSize]());
        if (!slots) {
            container_array = std::move(oldArray);
            G_FAIL_ALLOC("Out of memory.");
        }
        container_array = std::move(slots);
        container_size = newSize;
        clear();
        copyRing(oldArray.get(), oldFirst, oldLast, oldSize);
    }

    // Appends every item of a raw source ring, walking from its first slot to
    // the slot after its last item.
    void copyRing(const T* source, uint32_t first, uint32_t last, uint32_t theSize) {
        const uint32_t stop = rawNext(last, theSize);
        for (uint32_t slot = first; slot != stop; slot = rawNext(slot, theSize)) {
            lastIndex = nextSlot(lastIndex);
            container_array[lastIndex] = source[slot];
        }
    }

    static uint32_t rawNext(uint32_t index, uint32_t theSize) {
        G_CHECK(theSize > 0, "theSize > 0", "Size equals to 0");
        G_CHECK(index <= theSize, "index <= theSize", "Index out of bound");
        const uint32_t next = index + 1;
        return next == theSize ? 0 : next;
    }

    uint32_t nextSlot(uint32_t index) const {
        G_CHECK(index <= container_size, "index <= container_size", "Index out of bound");
        const uint32_t next = index + 1;
        return next == container_size ? 0 : next;
    }

    uint32_t slotOf(uint32_t position) const {
        G_CHECK(container_size > 0, "container_size > 0", "Container has 0 size.");
        return static_cast<uint32_t>((static_cast<uint64_t>(firstIndex) + position) % container_size);
    }

    std::unique_ptr<T[]> container_array;
    uint32_t container_size = 0;
    uint32_t firstIndex = 1;
    uint32_t lastIndex = 0;
};

// Items present in both containers, ascending, each once per matching pair.
template <class T>
g_container<T> intersection(const g_container<T>& a, const g_container<T>& b) {
    g_container<T> result;
    if (a.isEmpty() || b.isEmpty()) return result;
    // Small lists (a node's elements, say) are matched in place: the common
    // items are gathered, sorted and deduplicated in a fixed buffer, which
    // appends exactly what the sorted merge below would.
    constexpr uint32_t kSmall = 16;
    const uint32_t na = a.numberOfItems();
    const uint32_t nb = b.numberOfItems();
    if (na <= kSmall && nb <= kSmall) {
        T common[kSmall];
        uint32_t n = 0;
        for (uint32_t i = 0; i < na; ++i) {
            const T& x = a.item(i);
            if (b.memberOf(x)) common[n++] = x;
        }
        std::sort(common, common + n, g_detail::itemLess<T>);
        for (uint32_t i = 0; i < n; ++i) {
            if (i == 0 || !(common[i] == common[i - 1])) result.append(common[i]);
        }
        return result;
    }
    g_container<T> left(a);
    g_container<T> right(b);
    left.sortUnique();
    right.sortUnique();
    const uint32_t nl = left.numberOfItems();
    const uint32_t nr = right.numberOfItems();
    uint32_t i = 0;
    uint32_t j = 0;
    while (i < nl && j < nr) {
        const T& x = left.item(i);
        const T& y = right.item(j);
        if (x == y) {
            result.append(x);
            ++i;
            ++j;
        } else if (g_detail::itemLess<T>(x, y)) {
            ++i;
        } else {
            ++j;
        }
    }
    return result;
}
