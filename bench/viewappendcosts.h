#pragma once

namespace app
{
class MessageView;
}

// What appends cost the message view with the UI thread to itself, printed
// one line each. UI thread only.

// A thread places 2048-byte blocks into a QtViewWindow on `view` while the UI
// thread waits for it; prints the allocations per append.
void watcherAllocations(app::MessageView& view);

// Single appends of short lines into a filling and a full view, 64 KiB edits
// into a full view, and appends of a stream without line breaks. Returns the
// rate of the 64 KiB edits in MB/s: the view's own pace.
double appendCosts();
