// The amplifier's parameter page: one slider per parameter with its name and
// current value, in a child window the host places where it likes.
//
// Edits act on the sound at once, so a guitarist hears each slider while
// playing (the live host applies only when its dialog closes); the page also
// keeps the usual contract: it is dirty after an edit until Apply, which
// writes every value to the plug-in again.
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>

#include <cstdio>
#include <new>

#include "ampdsp.h"
#include "ampmodule.h"

namespace {

const char kWindowClass[] = "HarnwickAmpPage";
const WCHAR kTitle[] = L"Harnwick Amp";
const int kSliderSteps = 200;
const int kRowPixels = 34;
const int kPageWidth = 400;
const int kPageHeight = 16 + AMP_PARAMETER_COUNT * kRowPixels;

int sliderPosition(int index, float value) {
    const AmpParameterInfo* info = ampParameterInfo(index);
    float t = (value - info->minValue) / (info->maxValue - info->minValue);
    return int(t * kSliderSteps + 0.5f);
}

float sliderValue(int index, int position) {
    const AmpParameterInfo* info = ampParameterInfo(index);
    return info->minValue + (info->maxValue - info->minValue) * float(position) / kSliderSteps;
}

WCHAR* copyTaskString(const WCHAR* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(WCHAR);
    WCHAR* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

class AmpPage final : public AmpComObject<IPropertyPage> {
public:
    AmpPage() : AmpComObject(IID_IPropertyPage) {}
    ~AmpPage() override {
        destroyWindow();
        releaseObjects();
        setSite(nullptr);
    }

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
        setSite(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override {
        if (!window_) return E_UNEXPECTED;
        destroyWindow();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT cmdShow) override {
        if (!window_) return E_UNEXPECTED;
        ShowWindow(window_, cmdShow);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
        if (!rect) return E_POINTER;
        if (!window_) return E_UNEXPECTED;
        MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static bool registerWindowClass();
    void createControls();
    void showValue(int index);
    void sliderMoved(HWND slider);
    void destroyWindow() {
        if (window_) DestroyWindow(window_);
        window_ = nullptr;
    }
    void releaseObjects() {
        if (amp_) amp_->Release();
        amp_ = nullptr;
    }
    void setSite(IPropertyPageSite* site) {
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
    }

    IPropertyPageSite* site_ = nullptr;
    IHarnwickAmpDirect* amp_ = nullptr;
    HWND window_ = nullptr;
    HWND sliders_[AMP_PARAMETER_COUNT] = {};
    HWND valueTexts_[AMP_PARAMETER_COUNT] = {};
    float values_[AMP_PARAMETER_COUNT] = {};
    bool dirty_ = false;
};

bool AmpPage::registerWindowClass() {
    static bool registered = false;
    if (registered) return true;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = windowProc;
    wc.hInstance = ampModuleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    // Already registered by an earlier load of this module in the process is fine too.
    registered = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

HRESULT AmpPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect) return E_POINTER;
    if (window_) return E_UNEXPECTED;
    if (!registerWindowClass()) return HRESULT_FROM_WIN32(GetLastError());
    window_ = CreateWindowExA(WS_EX_CONTROLPARENT, kWindowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                              rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, parent,
                              nullptr, ampModuleInstance(), this);
    if (!window_) return HRESULT_FROM_WIN32(GetLastError());
    createControls();
    return S_OK;
}

void AmpPage::createControls() {
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HINSTANCE inst = ampModuleInstance();
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        int y = 8 + i * kRowPixels;
        HWND label = CreateWindowExA(0, "STATIC", ampParameterInfo(i)->name, WS_CHILD | WS_VISIBLE, 10, y + 6, 90, 18,
                                     window_, nullptr, inst, nullptr);
        sliders_[i] = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_HORZ, 100, y,
                                      220, 28, window_, reinterpret_cast<HMENU>(INT_PTR(100 + i)), inst, nullptr);
        valueTexts_[i] = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 325, y + 6, 70, 18, window_,
                                         nullptr, inst, nullptr);
        SendMessageA(label, WM_SETFONT, WPARAM(font), FALSE);
        SendMessageA(valueTexts_[i], WM_SETFONT, WPARAM(font), FALSE);
        SendMessageA(sliders_[i], TBM_SETRANGE, FALSE, MAKELPARAM(0, kSliderSteps));
        SendMessageA(sliders_[i], TBM_SETPAGESIZE, 0, kSliderSteps / 10);
        SendMessageA(sliders_[i], TBM_SETPOS, TRUE, sliderPosition(i, values_[i]));
        showValue(i);
    }
}

void AmpPage::showValue(int index) {
    if (!valueTexts_[index]) return;
    char text[32];
    const AmpParameterInfo* info = ampParameterInfo(index);
    snprintf(text, sizeof text, "%.1f %s", double(values_[index]), info->unit);
    SetWindowTextA(valueTexts_[index], text);
}

void AmpPage::sliderMoved(HWND slider) {
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        if (sliders_[i] != slider) continue;
        values_[i] = sliderValue(i, int(SendMessageA(slider, TBM_GETPOS, 0, 0)));
        if (amp_) amp_->setParameter(i, values_[i]);  // heard at once
        showValue(i);
        dirty_ = true;
        if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
    }
}

LRESULT CALLBACK AmpPage::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* page = reinterpret_cast<AmpPage*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_HSCROLL && page && lp) {
        page->sliderMoved(reinterpret_cast<HWND>(lp));
        return 0;
    }
    if (msg == WM_NCDESTROY) SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcA(hwnd, msg, wp, lp);
}

HRESULT AmpPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    info->cb = sizeof(*info);
    info->pszTitle = copyTaskString(kTitle);
    info->size.cx = kPageWidth;
    info->size.cy = kPageHeight;
    // No document string: the host keeps its own caption.
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

HRESULT AmpPage::SetObjects(ULONG count, IUnknown** objects) {
    releaseObjects();
    dirty_ = false;
    if (count == 0) return S_OK;
    if (!objects || !objects[0]) return E_POINTER;
    HRESULT hr = objects[0]->QueryInterface(IID_HarnwickAmpPageLink, reinterpret_cast<void**>(&amp_));
    if (FAILED(hr)) {
        amp_ = nullptr;
        return E_NOINTERFACE;
    }
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        amp_->getParameter(i, &values_[i]);
        if (sliders_[i]) SendMessageA(sliders_[i], TBM_SETPOS, TRUE, sliderPosition(i, values_[i]));
        showValue(i);
    }
    return S_OK;
}

HRESULT AmpPage::Apply() {
    if (!amp_) return E_UNEXPECTED;
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) amp_->setParameter(i, values_[i]);
    dirty_ = false;
    return S_OK;
}

}  // namespace

IUnknown* createAmpPage() { return new (std::nothrow) AmpPage; }

void ampPageModuleDetach() { UnregisterClassA(kWindowClass, ampModuleInstance()); }
