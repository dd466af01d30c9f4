// The plug-in's parameter page on a real window (Xvfb): created through COM
// from the class the plug-in names, activated inside a parent window, its
// sliders worked with the keyboard, and the edits committed by Apply.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "ampdsp.h"
#include "amptest.h"

namespace {

// Records the page's status reports.
class SiteRecorder : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        lastFlags = flags;
        ++changes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    ULONG refs = 1;
    int changes = 0;
    DWORD lastFlags = 0;
};

struct ChildSearch {
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK collectChild(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<ChildSearch*>(lp);
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (lstrcmpiA(name, s->className) == 0) s->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> childrenOfClass(HWND parent, const char* className) {
    ChildSearch search = {className, {}};
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string windowText(HWND hwnd) {
    char text[64] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

class AmpPageTest : public AmpComTest {
protected:
    void SetUp() override {
        AmpComTest::SetUp();
        amp_ = createAmp();
        ASSERT_NE(nullptr, amp_);
        ASSERT_EQ(S_OK, amp_->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct_)));
        parent_ = CreateWindowExA(0, "STATIC", "page host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, parent_);
    }
    void TearDown() override {
        if (parent_) DestroyWindow(parent_);
        releaseAndNull(page_);
        releaseAndNull(direct_);
        if (amp_) {
            EXPECT_EQ(0u, amp_->Release());
        }
        AmpComTest::TearDown();
    }
    // The page the plug-in names, created through COM.
    void createPage() {
        ISpecifyPropertyPages* specify = nullptr;
        ASSERT_EQ(S_OK, amp_->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify)));
        CAUUID pages = {};
        ASSERT_EQ(S_OK, specify->GetPages(&pages));
        specify->Release();
        ASSERT_EQ(1u, pages.cElems);
        HRESULT hr = CoCreateInstance(pages.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                      reinterpret_cast<void**>(&page_));
        CoTaskMemFree(pages.pElems);
        ASSERT_EQ(S_OK, hr);
    }

    IBaseFilter* amp_ = nullptr;
    IHarnwickAmpDirect* direct_ = nullptr;
    IPropertyPage* page_ = nullptr;
    HWND parent_ = nullptr;
};

}  // namespace

TEST_F(AmpPageTest, SlidersChangeTheParametersAndApplyCommitsThem) {
    ASSERT_NO_FATAL_FAILURE(createPage());
    direct_->setParameter(AMP_BASS, 6.0f);
    EXPECT_EQ(E_UNEXPECTED, page_->Apply());  // no object yet
    IUnknown* object = amp_;
    ASSERT_EQ(S_OK, page_->SetObjects(1, &object));
    SiteRecorder site;
    ASSERT_EQ(S_OK, page_->SetPageSite(&site));

    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
    EXPECT_STREQ(L"Harnwick Amp", info.pszTitle);
    EXPECT_EQ(nullptr, info.pszDocString);  // the host keeps its own caption
    EXPECT_GE(info.size.cx, 300);
    EXPECT_GE(info.size.cy, 200);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);

    RECT rect = {20, 65, 20 + info.size.cx, 65 + info.size.cy};
    ASSERT_EQ(S_OK, page_->Activate(parent_, &rect, FALSE));
    HWND pageWindow = GetWindow(parent_, GW_CHILD);
    ASSERT_NE(nullptr, pageWindow);
    // Shown by Activate itself: hosts may never call Show (the parent stays hidden here).
    EXPECT_TRUE(GetWindowLongA(pageWindow, GWL_STYLE) & WS_VISIBLE);
    RECT placed;
    GetWindowRect(pageWindow, &placed);
    MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(20, placed.left);
    EXPECT_EQ(65, placed.top);

    std::vector<HWND> sliders = childrenOfClass(pageWindow, TRACKBAR_CLASSA);
    ASSERT_EQ(size_t(AMP_PARAMETER_COUNT), sliders.size());
    // Bass at +6 dB of -12..+12 sits at three quarters.
    LRESULT low = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMIN, 0, 0);
    LRESULT high = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMAX, 0, 0);
    EXPECT_EQ(low + (high - low) * 3 / 4, SendMessageA(sliders[AMP_BASS], TBM_GETPOS, 0, 0));
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());

    // The user drives every slider to its end with the keyboard.
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        SetFocus(sliders[i]);
        SendMessageA(sliders[i], WM_KEYDOWN, i % 2 ? VK_HOME : VK_END, 0);
        SendMessageA(sliders[i], WM_KEYUP, i % 2 ? VK_HOME : VK_END, 0);
    }
    EXPECT_EQ(S_OK, page_->IsPageDirty());
    EXPECT_GE(site.changes, 1);
    EXPECT_EQ(DWORD(PROPPAGESTATUS_DIRTY), site.lastFlags);
    std::vector<std::string> texts;
    for (HWND label : childrenOfClass(pageWindow, "STATIC")) texts.push_back(windowText(label));
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), "12.0 dB"));  // a tone control at its top

    direct_->setParameter(AMP_DRIVE, 5.0f);  // changed elsewhere; Apply writes the page's values back
    ASSERT_EQ(S_OK, page_->Apply());
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());
    std::vector<float> values = parametersOf(amp_);
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        const AmpParameterInfo* p = ampParameterInfo(i);
        EXPECT_FLOAT_EQ(i % 2 ? p->minValue : p->maxValue, values[i]) << p->name;
    }

    RECT moved = {5, 5, 5 + info.size.cx, 5 + info.size.cy};
    EXPECT_EQ(S_OK, page_->Move(&moved));
    GetWindowRect(pageWindow, &placed);
    MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(5, placed.left);
    EXPECT_EQ(S_OK, page_->Show(SW_HIDE));
    EXPECT_FALSE(GetWindowLongA(pageWindow, GWL_STYLE) & WS_VISIBLE);

    EXPECT_EQ(S_OK, page_->Deactivate());
    EXPECT_FALSE(IsWindow(pageWindow));
    EXPECT_EQ(E_UNEXPECTED, page_->Deactivate());
    EXPECT_EQ(S_OK, page_->SetPageSite(nullptr));
    EXPECT_EQ(1u, site.refs);
    EXPECT_EQ(S_OK, page_->SetObjects(0, nullptr));
    EXPECT_EQ(E_UNEXPECTED, page_->Apply());
}

TEST_F(AmpPageTest, SliderMovesAreHeardBeforeApply) {
    ASSERT_NO_FATAL_FAILURE(createPage());
    IUnknown* object = amp_;
    ASSERT_EQ(S_OK, page_->SetObjects(1, &object));
    RECT rect = {0, 0, 400, 250};
    ASSERT_EQ(S_OK, page_->Activate(parent_, &rect, FALSE));
    HWND slider = childrenOfClass(GetWindow(parent_, GW_CHILD), TRACKBAR_CLASSA)[AMP_OUTPUT_LEVEL];
    SendMessageA(slider, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_FLOAT_EQ(ampParameterInfo(AMP_OUTPUT_LEVEL)->minValue, parametersOf(amp_)[AMP_OUTPUT_LEVEL]);
    EXPECT_EQ(S_OK, page_->IsPageDirty());
    EXPECT_EQ(S_OK, page_->Deactivate());
}

TEST_F(AmpPageTest, RefusesObjectsThatAreNotTheAmplifier) {
    ASSERT_NO_FATAL_FAILURE(createPage());
    IStream* stranger = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stranger));
    IUnknown* object = stranger;
    EXPECT_EQ(E_NOINTERFACE, page_->SetObjects(1, &object));
    EXPECT_EQ(E_UNEXPECTED, page_->Apply());
    stranger->Release();
}
