#include "nvcollection.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// compare() folded to -1, 0, +1 the way the sort sees it, so that bisection and sort agree
// on elements that answer anything else.
int32_t order(const NVObject* element, const NVObject& obj)
{
    int32_t r = element->compare(obj);
    return (r == -1 || r == 1) ? r : 0;
}

} // namespace

int Lgf_SortedCollectionCompareFunction(const void* a, const void* b)
{
    const NVObject* x = *static_cast<NVObject* const*>(a);
    const NVObject* y = *static_cast<NVObject* const*>(b);
    return order(x, *y);
}

NVCollection::NVCollection() : mCapacity(5), mCount(0), mItems(new NVObject*[5]()) {}

NVCollection::~NVCollection()
{
    removeAll();
    delete[] mItems;
}

long NVCollection::count() const { return mCount; }

void NVCollection::reset() {}

bool NVCollection::expand(long n)
{
    if (n <= mCapacity || n == 0)
        n = static_cast<long>(mCapacity) + 5;
    if (n > INT32_MAX || static_cast<unsigned long>(n) > SIZE_MAX / sizeof(NVObject*))
        return false;
    NVObject** items = new (std::nothrow) NVObject*[n]();
    if (items == nullptr)
        return false;
    if (mCount > 0)
        std::memcpy(items, mItems, static_cast<size_t>(mCount) * sizeof(NVObject*));
    delete[] mItems;
    mItems = items;
    mCapacity = static_cast<int32_t>(n);
    return true;
}

void NVCollection::insertAt(long index, NVObject* obj)
{
    std::memmove(mItems + index + 1, mItems + index, static_cast<size_t>(mCount - index) * sizeof(NVObject*));
    mItems[index] = obj;
    ++mCount;
    obj->incReferences();
}

bool NVCollection::add(NVObject* obj)
{
    if (obj == nullptr)
        return false;
    if (mCount == mCapacity) {
        if (mCapacity >= kAppendLimit)
            return false;
        long grown = 2L * mCapacity;
        if (!expand(grown < kAppendLimit ? grown : kAppendLimit))
            return false;
    }
    insertAt(mCount, obj);
    return true;
}

void NVCollection::remove(NVObject* obj)
{
    long i = findSameIndex(obj);
    if (i < 0)
        return;
    obj->decReferences();   // may delete obj; only the pointer value is left to move
    std::memmove(mItems + i, mItems + i + 1, static_cast<size_t>(mCount - i - 1) * sizeof(NVObject*));
    mItems[mCount - 1] = nullptr;
    --mCount;
}

void NVCollection::removeAll()
{
    // Counted out one by one with the slot cleared first: an element's destructor may look
    // at this collection.
    for (int32_t i = 0; i < mCount; ++i) {
        NVObject* obj = mItems[i];
        mItems[i] = nullptr;
        if (obj != nullptr)
            obj->decReferences();
    }
    for (int32_t i = 0; i < mCapacity; ++i)
        mItems[i] = nullptr;
    mCount = 0;
}

long NVCollection::findIndex(NVObject* obj)
{
    if (obj == nullptr)
        return -1;
    for (int32_t i = 0; i < mCount; ++i)
        if (mItems[i] != nullptr && mItems[i]->isEqual(*obj))
            return i;
    return -1;
}

NVObject* NVCollection::find(NVObject* obj)
{
    long i = findIndex(obj);
    return i < 0 ? nullptr : atPos(i);
}

bool NVCollection::findSame(NVObject* obj) { return findSameIndex(obj) >= 0; }

long NVCollection::findSameIndex(NVObject* obj)
{
    if (obj == nullptr)
        return -1;
    for (int32_t i = 0; i < mCount; ++i)
        if (mItems[i] == obj)
            return i;
    return -1;
}

NVObject* NVCollection::atPos(long index) const
{
    if (index < 0 || index >= mCount)
        return nullptr;
    return mItems[index];
}

void NVCollection::forEach(int command, long param)
{
    for (int32_t i = 0; i < mCount; ++i)
        if (mItems[i] != nullptr)
            mItems[i]->onCommand(command, param);
}

NVSortedCollection::NVSortedCollection() : mSorted(true) {}

NVSortedCollection::~NVSortedCollection() {}

long NVSortedCollection::bisect(const NVObject& obj, long& place) const
{
    long lo = 0;
    long hi = static_cast<long>(mCount) - 1;
    while (hi >= lo) {
        long mid = (lo + hi) / 2;
        if (mItems[mid] == nullptr)
            break;
        int32_t r = order(mItems[mid], obj);
        if (r == -1) {
            lo = mid + 1;
        } else if (r == 1) {
            hi = mid - 1;
        } else {
            place = mid;
            return mid;
        }
    }
    place = lo;
    return -1;
}

bool NVSortedCollection::add(NVObject* obj)
{
    if (!mSorted)
        return NVCollection::add(obj);
    if (obj == nullptr)
        return false;
    if (mCount == mCapacity && !expand(2L * mCapacity))
        return false;
    long at = 0;
    bisect(*obj, at);   // just before the equal element the bisection met, if any
    insertAt(at, obj);
    return true;
}

long NVSortedCollection::findIndex(NVObject* obj)
{
    if (!mSorted)
        return NVCollection::findIndex(obj);
    if (obj == nullptr)
        return -1;
    long at = 0;
    long mid = bisect(*obj, at);
    if (mid < 0)
        return -1;
    while (mid > 0 && order(mItems[mid - 1], *obj) == 0)
        --mid;
    return mid;
}

bool NVSortedCollection::addUnsorted(NVObject* obj)
{
    if (obj == nullptr)
        return false;
    mSorted = false;
    return NVCollection::add(obj);
}

void NVSortedCollection::doSort()
{
    if (mCount > 1)
        std::qsort(mItems, static_cast<size_t>(mCount), sizeof(NVObject*), Lgf_SortedCollectionCompareFunction);
    mSorted = true;
}

void NVSortedCollection::forceResort() { doSort(); }

void NVSortedCollection::setSorted(bool sorted)
{
    if (sorted == mSorted)
        return;
    mSorted = sorted;
    if (mSorted)
        doSort();
}
