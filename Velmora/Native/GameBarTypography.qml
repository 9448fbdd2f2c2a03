pragma Singleton
import QtQuick

// One sans-serif family in two weights and three sizes. Inter when it is installed (install-deps adds
// it), else the desktop's default sans-serif: the family of a font that names none.
QtObject {
    readonly property string family: Array.from(Qt.fontFamilies()).includes("Inter") ? "Inter"
                                                                                     : Qt.font({ pixelSize: bodySize }).family

    readonly property int titleSize: 16
    readonly property int bodySize: 13
    readonly property int captionSize: 11

    readonly property int regular: Font.Normal
    readonly property int semibold: Font.DemiBold

    readonly property font title: Qt.font({ family: family, pixelSize: titleSize, weight: semibold })
    readonly property font body: Qt.font({ family: family, pixelSize: bodySize, weight: regular })
    readonly property font bodyStrong: Qt.font({ family: family, pixelSize: bodySize, weight: semibold })
    readonly property font caption: Qt.font({ family: family, pixelSize: captionSize, weight: regular })
    readonly property font captionStrong: Qt.font({ family: family, pixelSize: captionSize, weight: semibold })
}
