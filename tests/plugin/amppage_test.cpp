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
        *out = iid == IID_IUnknown || iid == IID_IPropertyPageSite ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        lastFlags = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    ULONG refs = 1;
    DWORD lastFlags = 0;
};

struct ChildSearch {
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK collectChild(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search->className) == 0) search->found.push_back(child);
    return TRUE;
}

std::vector<HWND> childrenOfClass(HWND parent, const char* className) {
    ChildSearch search = {className, {}};
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

POINT placeIn(HWND parent, HWND child) {
    RECT placed;
    GetWindowRect(child, &placed);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&placed), 2);
    return {placed.left, placed.top};
}

}  // namespace

using AmpPageTest = AmpComTest;

TEST_F(AmpPageTest, SlidersChangeTheParametersAtOnceAndApplyCommitsThem) {
    IBaseFilter* amp = createAmp();
    ASSERT_NE(nullptr, amp);
    auto* direct = query<IHarnwickAmpDirect>(amp, IID_IHarnwickAmpDirect);
    auto* specify = query<ISpecifyPropertyPages>(amp, IID_ISpecifyPropertyPages);
    ASSERT_TRUE(direct && specify);
    CAUUID pages = {};
    ASSERT_EQ(S_OK, specify->GetPages(&pages));
    specify->Release();
    ASSERT_EQ(1u, pages.cElems);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(pages.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                     reinterpret_cast<void**>(&page)));
    CoTaskMemFree(pages.pElems);
    HWND parent = CreateWindowExA(0, "STATIC", "page host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);

    IStream* stranger = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stranger);
    IUnknown* object = stranger;
    EXPECT_EQ(E_NOINTERFACE, page->SetObjects(1, &object));
    stranger->Release();
    EXPECT_EQ(E_UNEXPECTED, page->Apply()) << "no object";
    direct->setParameter(AMP_BASS, 6.0f);
    object = amp;
    ASSERT_EQ(S_OK, page->SetObjects(1, &object));
    SiteRecorder site;
    ASSERT_EQ(S_OK, page->SetPageSite(&site));

    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"Harnwick Amp", info.pszTitle);
    EXPECT_EQ(nullptr, info.pszDocString);  // the host keeps its own caption
    CoTaskMemFree(info.pszTitle);
    RECT rect = {20, 65, 20 + info.size.cx, 65 + info.size.cy};
    ASSERT_EQ(S_OK, page->Activate(parent, &rect, FALSE));
    HWND pageWindow = GetWindow(parent, GW_CHILD);
    ASSERT_NE(nullptr, pageWindow);
    // Shown by Activate itself: hosts may never call Show (the parent stays hidden here).
    EXPECT_TRUE(GetWindowLongA(pageWindow, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(20, placeIn(parent, pageWindow).x);
    EXPECT_EQ(65, placeIn(parent, pageWindow).y);

    std::vector<HWND> sliders = childrenOfClass(pageWindow, TRACKBAR_CLASSA);
    ASSERT_EQ(size_t(AMP_PARAMETER_COUNT), sliders.size());
    // Bass at +6 dB of -12..+12 sits at three quarters.
    LRESULT low = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMIN, 0, 0);
    LRESULT high = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMAX, 0, 0);
    EXPECT_EQ(low + (high - low) * 3 / 4, SendMessageA(sliders[AMP_BASS], TBM_GETPOS, 0, 0));
    EXPECT_EQ(S_FALSE, page->IsPageDirty());

    // The user drives every slider to its end with the keyboard: heard at once, before Apply.
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        SetFocus(sliders[i]);
        SendMessageA(sliders[i], WM_KEYDOWN, i % 2 ? VK_HOME : VK_END, 0);
        SendMessageA(sliders[i], WM_KEYUP, i % 2 ? VK_HOME : VK_END, 0);
    }
    std::vector<float> ends(AMP_PARAMETER_COUNT);
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i)
        ends[i] = i % 2 ? ampParameterInfo(i)->minValue : ampParameterInfo(i)->maxValue;
    EXPECT_EQ(ends, parametersOf(amp));
    EXPECT_EQ(S_OK, page->IsPageDirty());
    EXPECT_EQ(DWORD(PROPPAGESTATUS_DIRTY), site.lastFlags);
    std::vector<std::string> texts;
    for (HWND label : childrenOfClass(pageWindow, "STATIC")) {
        char text[64] = {};
        GetWindowTextA(label, text, sizeof text);
        texts.push_back(text);
    }
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), "12.0 dB"));  // a tone control at its top

    direct->setParameter(AMP_DRIVE, 5.0f);  // changed elsewhere; Apply writes the page's values back
    ASSERT_EQ(S_OK, page->Apply());
    EXPECT_EQ(S_FALSE, page->IsPageDirty());
    EXPECT_EQ(ends, parametersOf(amp));

    RECT moved = {5, 5, 5 + info.size.cx, 5 + info.size.cy};
    EXPECT_EQ(S_OK, page->Move(&moved));
    EXPECT_EQ(5, placeIn(parent, pageWindow).x);
    EXPECT_EQ(S_OK, page->Show(SW_HIDE));
    EXPECT_FALSE(GetWindowLongA(pageWindow, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(S_OK, page->Deactivate());
    EXPECT_FALSE(IsWindow(pageWindow));
    EXPECT_EQ(E_UNEXPECTED, page->Deactivate());
    EXPECT_EQ(S_OK, page->SetPageSite(nullptr));
    EXPECT_EQ(1u, site.refs);
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    EXPECT_EQ(E_UNEXPECTED, page->Apply());
    page->Release();
    direct->Release();
    EXPECT_EQ(0u, amp->Release());
    DestroyWindow(parent);
}
