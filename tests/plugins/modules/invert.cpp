// A test module: Ok inverts the colours of the frames of the range (rangeStart..rangeEnd) and
// keeps every other frame.
#include "framework.h"

namespace {

const dlg::ControlDef kControls[] = {
    {dlg::kIdOk, dlg::Kind::PushButton, "Ok", 5, 5, 40, 14},
    {dlg::kIdCancel, dlg::Kind::PushButton, "Cansel", 50, 5, 40, 14},
    {plugin::kIdProgress, dlg::Kind::Progress, "", 5, 24, 85, 8, dlg::kBorder},
};

class InvertDialog : public plugin::PluginDialog {
  public:
    InvertDialog(QWidget* parent, EditWorkspace& ws)
        : PluginDialog({"Invert", 95, 37, kControls}, parent, ws) {}

  protected:
    void onControl(int id) override {
        if (id != dlg::kIdOk) return;
        const EditWorkspace& ws = workspace();
        const BITMAPINFOHEADER format = *ws.frameFormat;
        renderToSlot(ws.streamInfo.dwLength, format, [&](int64_t i, uint8_t* pixels) {
            if (!plugin::ReadFrame(ws.currentStream, i, pixels, format)) {
                reportError("フレームを読めませんでした");
                return false;
            }
            if (i >= ws.rangeStart && i <= ws.rangeEnd)
                for (DWORD b = 0; b < format.biSizeImage; ++b)
                    pixels[b] = uint8_t(255 - pixels[b]);
            return true;
        });
    }
};

} // namespace

MIVRA_PLUGIN("Invert", InvertDialog)
