#pragma once

namespace vorlen::gui {

// Lets worker threads reach the Qt event loop: while it lives, every call a worker queues for the
// UI thread (TThread::Synchronize) posts a queued invocation that drains the queue on the UI
// thread. Create it on the UI thread after the QApplication and destroy it before; by then every
// worker must have ended.
class TUiBridge {
public:
    TUiBridge();
    ~TUiBridge();
    TUiBridge(const TUiBridge&) = delete;
    TUiBridge& operator=(const TUiBridge&) = delete;
};

} // namespace vorlen::gui
