#pragma once
// The windows made once and kept for the life of the program (the list,
// warning, progress and discrepancy windows): created without a parent on
// first use and deleted when the application object goes, so that no window
// outlives QApplication. A window closed with WA_DeleteOnClose or deleted by
// someone else is simply made anew on the next use.
#include <QCoreApplication>
#include <QPointer>

template <class W>
class SharedWindow {
public:
    static W &get() {
        QPointer<W> &w = slot();
        if (!w) {
            w = new W(nullptr);
            static const bool routineAdded = (qAddPostRoutine(&destroy), true);
            (void)routineAdded;
        }
        return *w;
    }
    static bool exists() { return !slot().isNull(); }

private:
    static QPointer<W> &slot() {
        static QPointer<W> instance;
        return instance;
    }
    static void destroy() {
        delete slot().data();
        slot() = nullptr;
    }
};
