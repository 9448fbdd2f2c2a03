pragma Singleton
import QtQuick
import Theme

// One sans-serif family in two weights and three sizes. The theme's (Inter, which install-deps adds) when
// it is installed, else the desktop's default sans-serif: the family of a font that names none.
QtObject {
    readonly property string family: Array.from(Qt.fontFamilies()).includes(Theme.fontFamily) ? Theme.fontFamily
                                                                                               : Qt.font({ pixelSize: bodySize }).family

    readonly property int titleSize: Theme.titleSize
    readonly property int bodySize: Theme.bodySize
    readonly property int captionSize: Theme.captionSize

    readonly property int regular: Theme.regular
    readonly property int semibold: Theme.semibold

    readonly property font title: Qt.font({ family: family, pixelSize: titleSize, weight: semibold })
    readonly property font body: Qt.font({ family: family, pixelSize: bodySize, weight: regular })
    readonly property font bodyStrong: Qt.font({ family: family, pixelSize: bodySize, weight: semibold })
    readonly property font caption: Qt.font({ family: family, pixelSize: captionSize, weight: regular })
    readonly property font captionStrong: Qt.font({ family: family, pixelSize: captionSize, weight: semibold })
}
