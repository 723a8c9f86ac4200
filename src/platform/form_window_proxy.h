#pragma once
// A form window that passes every call to another one: the base for wrappers that change a few.
#include "platform/window.h"

#include <utility>

namespace tarnwick::platform {

class FormWindowProxy : public FormWindow {
public:
    explicit FormWindowProxy(FormWindow& inner) : inner_(inner) {}

    void setListener(InputListener* l) override { inner_.setListener(l); }
    void setTitle(const std::string& t) override { inner_.setTitle(t); }
    bool visible() const override { return inner_.visible(); }
    void show() override { inner_.show(); }
    void close() override { inner_.close(); }
    WindowState windowState() const override { return inner_.windowState(); }
    void setWindowState(WindowState s) override { inner_.setWindowState(s); }
    void setBorderless() override { inner_.setBorderless(); }
    void setStayOnTop() override { inner_.setStayOnTop(); }
    Rect geometry() const override { return inner_.geometry(); }
    void setGeometry(const Rect& r) override { inner_.setGeometry(r); }
    Size clientSize() const override { return inner_.clientSize(); }
    Size screenSize() const override { return inner_.screenSize(); }
    bool hasHandle() const override { return inner_.hasHandle(); }
    WindowId handle() override { return inner_.handle(); }
    void embedInto(WindowId parent) override { inner_.embedInto(parent); }
    WindowProc windowProc() const override { return inner_.windowProc(); }
    void setWindowProc(WindowProc p) override { inner_.setWindowProc(std::move(p)); }
    intptr_t sendMessage(uint32_t m, uintptr_t w, intptr_t l) override {
        return inner_.sendMessage(m, w, l);
    }
    FrameView beginFrame() override { return inner_.beginFrame(); }
    void endFrame() override { inner_.endFrame(); }

protected:
    FormWindow& inner_;
};

} // namespace tarnwick::platform
