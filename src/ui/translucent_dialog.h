// The translucent dialog pair: a skinned window shown as two dialogs that always cover
// each other. The skin layer (CTranslucentDialog) is a layered popup painted from a PNG
// with per-pixel alpha; the control layer (CStandardDialog) lies on top of it, owned by
// it, with a background of one key colour made transparent, so that only its child
// controls show over the skin. The skin layer is the one that runs; it builds its
// control layer when its own window is created.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "framework/dialog.h"
#include "framework/gdi.h"

namespace Gdiplus {
class Graphics;
class Image;
}  // namespace Gdiplus

// Asks a skin layer to paint itself again.
class IRenderListener {
public:
    virtual void OnRenderRequest() = 0;

protected:
    ~IRenderListener() = default;
};

// Draws over the skin each time the skin layer is painted, while it is visible.
class ILayerPainter {
public:
    virtual bool IsPainterVisible() const = 0;
    virtual void PaintOnLayer(Gdiplus::Graphics& graphics) = 0;

protected:
    ~ILayerPainter() = default;
};

class CTranslucentDialog;

class CStandardDialog : public CDialog {
public:
    CStandardDialog(UINT templateId, COLORREF colorKey, CWnd* parent = nullptr);

    // Destroys the child controls a derived layer made; the base has none.
    virtual void ReleaseControls() {}

    void SetPartner(CTranslucentDialog* partner) { partner_ = partner; }
    CTranslucentDialog* partner() const { return partner_; }
    COLORREF colorKey() const { return colorKey_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    // Both close the skin layer first, then end this layer.
    void OnOK() override;
    void OnCancel() override;

private:
    void CloseSkinLayer();

    COLORREF colorKey_;
    CGdiObject<HBRUSH> backgroundBrush_;
    CTranslucentDialog* partner_ = nullptr;
};

class CTranslucentDialog : public CDialog, public IRenderListener {
public:
    CTranslucentDialog(UINT templateId, std::unique_ptr<Gdiplus::Image> skin, CWnd* parent = nullptr);
    ~CTranslucentDialog() override;

    // Paints the skin, then the visible painters, into the layered window.
    void RedrawLayer();
    // Redraws unless redrawing is held.
    void OnRenderRequest() override;

    void SetDragEnabled(bool enabled) { dragEnabled_ = enabled; }
    void SetCenterOnCreate(bool center) { centerOnCreate_ = center; }
    void HoldRedraw(bool held) { redrawHeld_ = held; }
    // Painters are not owned; remove one before it goes away.
    void AddLayerPainter(ILayerPainter* painter);
    void RemoveLayerPainter(ILayerPainter* painter);

    CStandardDialog* controlLayer() const { return controlLayer_.get(); }
    int skinWidth() const;
    int skinHeight() const;

protected:
    // The control layer to create over the skin, or null for the skin alone.
    virtual CStandardDialog* BuildControlLayer() = 0;
    // Called during initialisation, before the first painting.
    virtual void InitLayerChildren() = 0;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;

private:
    LRESULT OnCreate(const CREATESTRUCTW& create);
    void FollowWithControlLayer(UINT flags);
    void ReleaseControlLayer();

    BLENDFUNCTION blend_ = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    std::unique_ptr<Gdiplus::Image> skin_;
    bool dragEnabled_ = true;
    bool centerOnCreate_ = true;
    bool redrawHeld_ = false;
    std::unique_ptr<CStandardDialog> controlLayer_;
    std::vector<ILayerPainter*> painters_;
};
