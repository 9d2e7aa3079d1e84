// A test module: Ok inverts the colours of the frames of the range (rangeStart..rangeEnd) and
// keeps every other frame.
#include "framework.h"

namespace {

const dlg::ControlDef kControls[] = {
    {dlg::kIdOk, dlg::Kind::PushButton, "Ok", 5, 5, 40, 14},
    {dlg::kIdCancel, dlg::Kind::PushButton, "Cansel", 50, 5, 40, 14},
    {plugin::kIdProgress, dlg::Kind::Progress, "", 5, 24, 85, 8, dlg::kBorder},
};

class InvertRenderer : public plugin::Renderer {
  public:
    explicit InvertRenderer(const EditWorkspace& ws) : ws_(ws), format_(*ws.frameFormat) {}
    int64_t frameCount() const override { return ws_.streamInfo.dwLength; }
    const BITMAPINFOHEADER& format() const override { return format_; }
    plugin::FrameResult render(int64_t i, uint8_t* pixels) override {
        if (!plugin::ReadFrame(ws_.currentStream, i, pixels, format_))
            return plugin::FrameResult::Failed("フレームを読めませんでした");
        if (i < ws_.rangeStart || i > ws_.rangeEnd) return plugin::FrameResult::Passed();
        for (DWORD b = 0; b < format_.biSizeImage; ++b)
            pixels[b] = uint8_t(255 - pixels[b]);
        return plugin::FrameResult::Made();
    }

  private:
    const EditWorkspace& ws_;
    BITMAPINFOHEADER format_;
};

class InvertDialog : public plugin::PluginDialog {
  public:
    InvertDialog(QWidget* parent, EditWorkspace& ws)
        : PluginDialog({"Invert", 95, 37, kControls}, parent, ws) {}

  protected:
    void onControl(int id) override {
        if (id != dlg::kIdOk) return;
        InvertRenderer renderer(workspace());
        renderToSlot(renderer);
    }
};

} // namespace

MIVRA_PLUGIN("Invert", InvertDialog)
