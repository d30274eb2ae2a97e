// First-in, first-out list of item pointers with a read cursor.
#include <VList.h>

#include "logging/Categories.h"

VList::VList() : cVlog(vmsg::log::kVList), mHead(nullptr), mCurrent(nullptr), mTail(nullptr), mCount(0) {}

VList::~VList()
{
    while (!empty())
        pull();
}

void VList::add(void* item)
{
    VListNode* node = new VListNode{item, nullptr};
    if (mTail) {
        mTail->mNext = node;
    } else {
        mHead = node;
        mCurrent = node;
    }
    mTail = node;
    ++mCount;
    debug("Added entry.");
}

void* VList::pull()
{
    VListNode* node = mHead;
    if (!node)
        return nullptr;
    void* item = node->mData;
    if (node == mTail)
        mTail = nullptr;
    mCurrent = node->mNext;
    debug("Deleting %p", static_cast<void*>(node));
    delete node;
    mHead = mCurrent;
    debug("Removed entry.");
    --mCount;
    return item;
}

void* VList::getfirst()
{
    return mHead ? mHead->mData : nullptr;
}

void* VList::get()
{
    return mCurrent ? mCurrent->mData : nullptr;
}

bool VList::step()
{
    if (!mCurrent)
        return false;
    mCurrent = mCurrent->mNext;
    return mCurrent != nullptr;
}

bool VList::empty()
{
    return mHead == nullptr;
}
