#pragma once
// OnScreenTexts: the texts and marks the visualization lays over its 3D area
// and beside its slider. In: what to say (the message, a caption, a replayed
// lasso's outline, the help rows, a notice, the status line) and, per frame,
// where the areas lie in view pixels. Out: plain GL drawing in the view's
// orthographic pixel space. Cost: a rasterisation when a text or its room
// changes (the labels keep what they drew), one pixel transfer per label
// and frame otherwise.
//
// Where each goes: the message in the band above the 3D area, centred; the
// caption along the top of the 3D area; the status line in its lower-left
// corner; a notice in its lower part; the help panel centred on it; the
// slider's value above the slider and its name along it.
#include "framework/ombra/TextLabel.h"
#include "framework/ombra/TextPanel.h"

#include <osg/Vec2f>

#include <string>
#include <vector>

class SliderComponent;

class OnScreenTexts {
public:
    void SetMessage(const std::string& text) { message = text; }
    const std::string& GetMessage() const { return message; }
    void SetCaption(const std::string& text) { caption = text; }
    const std::string& GetCaption() const { return caption; }
    void SetOutline(std::vector<osg::Vec2f> points) { outline = std::move(points); }
    void SetHelp(std::vector<TextPanel::Row> rows) { helpPanel.setRows(std::move(rows)); }
    void SetHelpShown(bool shown) { helpShown = shown; }
    bool IsHelpShown() const { return helpShown; }
    void SetNotice(const std::string& text) { notice = text; }
    const std::string& GetNotice() const { return notice; }
    void SetStatusLine(const std::string& text) { statusLine = text; }
    const std::string& GetStatusLine() const { return statusLine; }

    // The message in the band (l, b, w, h); a long line gets a smaller font
    // until it fits the band's width, down to a readable size, and wraps
    // onto further lines beyond that (reaching down from the band's top when
    // they need more height than it has). The 3D area's height sizes the font.
    // Lines as last drawn, for tests.
    const std::vector<TextLabel>& GetMessageLines() const { return messageLines; }
    void DrawMessage(double l, double b, double w, double h, double areaHeight, double viewWidth);
    // Outline, caption, then the explanations over the 3D area (l, b, w, h);
    // the status line only where showStatus.
    void DrawOverArea(double l, double b, double w, double h, bool showStatus);
    // The slider's value above it and its name along it, on the side away
    // from the 3D area whose centre is areaCentreX.
    void DrawSliderLabels(const SliderComponent& slider, const std::string& name, double labelHeight,
                          double areaCentreX, double viewWidth);

private:
    std::string message;
    // The message's lines: one where it fits, else its words wrapped at
    // no less than kReadableMessagePixels.
    std::vector<TextLabel> messageLines;
    static constexpr int kReadableMessagePixels = 14;
    // Fitted once per text and band, not every frame.
    std::string fittedMessage;
    double fittedWidth = -1.0;
    std::string caption;
    TextLabel captionLabel;
    std::vector<osg::Vec2f> outline;
    TextPanel helpPanel;
    bool helpShown = false;
    std::string notice;
    TextLabel noticeLabel;
    std::string statusLine;
    TextLabel statusLabel;
    TextLabel thresholdLabel;
    TextLabel sliderNameLabel;
};
