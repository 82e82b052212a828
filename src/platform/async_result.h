// The platform's async result, and how the work queue reaches the callback inside it.
#pragma once
#include "mfobjects.h"

// The callback an async result made by MFCreateAsyncResult carries, without a new reference;
// null for a result of some other origin.
IMFAsyncCallback* PlatAsyncResultCallback(IMFAsyncResult* result);

// Runs on a work-queue thread: calls the result's callback.
void PlatInvokeNow(IMFAsyncResult* result);

// Posts a result to the standard work queue (the queue takes a reference).
HRESULT PlatQueueResult(IMFAsyncResult* result);

// The same, taking over the caller's reference: the posting thread keeps none, so the last reference to
// what the result holds is never dropped on the posting thread after the item has run.
HRESULT PlatQueueResultAdopt(IMFAsyncResult* result);
