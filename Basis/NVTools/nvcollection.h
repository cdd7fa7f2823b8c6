#ifndef NVCOLLECTION_H
#define NVCOLLECTION_H

#include "nvobject.h"

// Growable array of NVObject pointers that shares ownership through reference counts: each
// slot holding an object counts it in once, and every way out counts it out (which deletes
// an object no one else holds). The same object may fill several slots. The append path
// stops at 32767 elements (capacities 5, 10, 20, ..., 20480, 32767).
class NVCollection : public NVObject {
public:
    NVCollection();
    ~NVCollection() override;
    NVCollection(const NVCollection&) = delete;
    NVCollection& operator=(const NVCollection&) = delete;

    virtual long count() const;
    virtual void reset();                       // a hook for subclasses; does nothing here
    virtual bool add(NVObject* obj);
    virtual void remove(NVObject* obj);         // the first slot holding exactly obj
    virtual void removeAll();
    virtual long findIndex(NVObject* obj);      // first element isEqual to obj, or -1
    virtual NVObject* find(NVObject* obj);
    virtual bool findSame(NVObject* obj);       // by pointer
    virtual long findSameIndex(NVObject* obj);  // by pointer, or -1

    // Grows the slot array to n (capacity + 5 when n is 0 or no larger). False when the
    // allocator refuses; the collection is then unchanged.
    bool expand(long n);
    NVObject* atPos(long index) const;
    // Sends onCommand to every element in index order; the count is read afresh each step,
    // so an element may take itself (or others) out meanwhile.
    void forEach(int command, long param);

    long getCapacity() const { return mCapacity; }

protected:
    static constexpr int32_t kAppendLimit = 32767;
    // Puts obj at index, moving the elements from there up by one; room must exist.
    void insertAt(long index, NVObject* obj);

    int32_t mCapacity;
    int32_t mCount;
    NVObject** mItems;
};

// Keeps its elements in compare() order (elements answer -1, 0 or +1), inserting and
// finding by bisection. addUnsorted() switches to a batch mode that appends; the collection
// is sorted once when the batch ends (setSorted(true), doSort(), forceResort()).
class NVSortedCollection : public NVCollection {
public:
    NVSortedCollection();
    ~NVSortedCollection() override;

    bool add(NVObject* obj) override;
    long findIndex(NVObject* obj) override;
    virtual bool addUnsorted(NVObject* obj);
    virtual void doSort();

    void forceResort();
    void setSorted(bool sorted);
    bool isSorted() const { return mSorted; }

protected:
    // Bisection by compare(): the index of an equal element it meets, or -1; place gets
    // where obj goes (before that equal element, or where the search ended).
    long bisect(const NVObject& obj, long& place) const;

    bool mSorted;
};

// qsort comparison of two slots: -1 and +1 as compare() says, 0 for anything else.
int Lgf_SortedCollectionCompareFunction(const void* a, const void* b);

#endif
