#pragma once
// How the three tab pages place their controls when the view resizes them.
// Each layout is a pure function of the page's size and the controls' current
// rectangles (page coordinates, pixels), so it runs and is tested without a
// display. Every layout leaves everything where it is when the page is 400
// pixels wide or less, and returns false then.

namespace page_layout {

/// A control's rectangle in its page's coordinates.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int Right() const { return x + width; }
    int Bottom() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

/// Pages this wide or narrower keep their controls where they are.
inline constexpr int kMinimumLayoutWidth = 401;

/// The "Communication" page's controls that move.
struct CommunicationRects {
    Rect leftFrame;        ///< 1039
    Rect rightFrame;       ///< 1040
    Rect portLabel;        ///< 1031 "Port"
    Rect baudLabel;        ///< 1032 "Baudrate"
    Rect parityLabel;      ///< 1033 "Parity"
    Rect stopBitsLabel;    ///< 1069 "Stop bits"
    Rect handshakeLabel;   ///< 1034 "Handshaking"
    Rect serialPorts;      ///< 1035
    Rect parallelPorts;    ///< 1041, shares the place of 1035
    Rect baudRate;         ///< 1036
    Rect parity;           ///< 1037
    Rect stopBits;         ///< 1070
    Rect handshaking;      ///< 1038
};

/// The two frames share the width; the labels stretch across the right frame
/// and the lists line up 125 pixels into it. The radio buttons keep their places.
bool LayoutCommunicationPage(int width, int height, CommunicationRects& rects);

/// The "Picture Info" page's controls that move.
struct PictureInfoRects {
    Rect inputFrame;     ///< 1001
    Rect outputFrame;    ///< 1002
    Rect inputFile;      ///< 1000
    Rect openButton;     ///< 1007 "..."
    Rect outputFile;     ///< 1008
    Rect saveAsButton;   ///< 1026 "..."
    Rect typeLabel;      ///< 1010
    Rect sizeLabel;      ///< 1012
    Rect widthLabel;     ///< 1018
    Rect heightLabel;    ///< 1019
    Rect outputType;     ///< 1009
    Rect outputSize;     ///< 1011
    Rect outputWidth;    ///< 1014
    Rect outputHeight;   ///< 1015
    Rect bytesLabel;     ///< 1013
    Rect widthSpin;      ///< 1022
    Rect offsetXLabel;   ///< 1016
    Rect offsetX;        ///< 1020
    Rect offsetXSpin;    ///< 1024
    Rect heightSpin;     ///< 1023
    Rect offsetYLabel;   ///< 1017
    Rect offsetY;        ///< 1021
    Rect offsetYSpin;    ///< 1025
    /// Width given to the two "..." buttons: 15, or wider where the toolkit
    /// cannot draw a button that narrow.
    int browseButtonWidth = 15;
};

/// Input on the left half, output on the right; the two path fields stretch
/// with their "..." buttons behind them, the output controls line up on fixed
/// columns measured from the output frame's left edge.
bool LayoutPictureInfoPage(int width, int height, PictureInfoRects& rects);

/// The "Download" page's controls that move.
struct DownloadRects {
    Rect progress;          ///< 1055
    Rect leftFrame;         ///< 1065
    Rect logoNumberLabel;   ///< 1042
    Rect logoNumber;        ///< 1043
    Rect upload;            ///< 1051
    Rect x1hx1w;            ///< 1046
    Rect x1hx2w;            ///< 1047
    Rect download;          ///< 1053
    Rect x2hx1w;            ///< 1048
    Rect x2hx2w;            ///< 1049
    Rect print;             ///< 1045
    Rect rightFrame;        ///< 1066
    Rect memoryLabels[3];   ///< 1058, 1057, 1059
    Rect memoryValues[3];   ///< 1060, 1061, 1068
    Rect memoryUnits[3];    ///< 1062, 1063, 1064
    Rect setup;             ///< 1050
    Rect erase;             ///< 1044
    Rect refresh;           ///< 1052
};

/// The progress bar across the bottom, the left frame five elevenths of the
/// width with the logo and print controls, the right frame the rest with the
/// memory figures and the Setup, Refresh and Erase buttons.
bool LayoutDownloadPage(int width, int height, DownloadRects& rects);

}  // namespace page_layout
