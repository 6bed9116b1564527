// A parent window for controls under test (or under measurement): it takes what the controls post to
// their parent and keeps it, in order, so a test can see which notifications came and how many.
#pragma once

#include "Platform/MessageTarget.h"

#include <QWidget>

#include <cstddef>
#include <vector>

namespace testkit {

class RecordingParent : public QWidget, public platform::MessageTarget {
public:
    bool post(UINT msg, WPARAM wParam, LPARAM lParam) override {
        messages.push_back({msg, wParam, lParam});
        return true;
    }
    std::size_t Count(UINT msg) const {
        std::size_t n = 0;
        for (const auto& m : messages)
            n += m.msg == msg ? 1 : 0;
        return n;
    }
    std::vector<platform::Message> messages;
};

} // namespace testkit
