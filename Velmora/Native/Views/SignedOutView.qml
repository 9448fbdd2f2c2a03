import QtQuick
import Velmora

// Before the player is signed in: what is needed and the way there. While the widget is starting only
// the mark and the spinner show.
Item {
    id: view

    required property CorvanaWidgetViewModel viewModel
    readonly property CorvanaWidgetViewModel vm: viewModel

    Column {
        id: content
        anchors.centerIn: parent
        width: Math.min(parent.width - 2 * GameBarResourceDictionary.padding, CorvanaResourceDictionary.signedOutTextWidth)
        spacing: GameBarResourceDictionary.spacingLarge

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: CorvanaResourceDictionary.signedOutMarkSize
            height: CorvanaResourceDictionary.signedOutMarkSize
            sourceSize { width: width; height: height }
            source: "qrc:/Velmora/Assets/velmora-mark.svg"
            Accessible.role: Accessible.Graphic
            Accessible.name: Converters.ResourceStringConverter("", "VelmoraLogo_NarratorText")
        }

        Spinner {
            objectName: "Spinner"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: view.vm.ShowSpinner
        }

        Text {
            objectName: "SignedOutMessage"
            visible: !view.vm.ShowSpinner
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            textFormat: Text.PlainText
            font: GameBarTypography.title
            color: GameBarResourceDictionary.textPrimary
            lineHeight: 1.15
            text: Converters.ResourceStringConverter("", "CorvanaSignedOut_Text")
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Text {
            objectName: "ErrorMessage"
            visible: view.vm.InErrorState && !view.vm.ShowSpinner
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            textFormat: Text.PlainText
            font: GameBarTypography.body
            color: GameBarResourceDictionary.textSecondary
            text: Converters.ResourceStringConverter("", "CorvanaError_Text")
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Column {
            visible: !view.vm.ShowSpinner
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: GameBarResourceDictionary.spacing

            TextButton {
                objectName: "StartListeningButton"
                anchors.horizontalCenter: parent.horizontalCenter
                primary: true
                label: Converters.ResourceStringConverter("", "CorvanaStartListeningButton_Text")
                narratorText: Converters.ResourceStringConverter("", "CorvanaStartListeningButton_ButtonNarratorText")
                onClicked: view.vm.StartCorvana()
            }
            TextButton {
                objectName: "OpenCorvanaButton"
                anchors.horizontalCenter: parent.horizontalCenter
                implicitHeight: CommonStyles.controlSize
                label: Converters.ResourceStringConverter("", "CorvanaOpenCorvana_Text")
                narratorText: Converters.ResourceStringConverter("", "CorvanaOpenCorvana_ButtonNarratorText")
                glyph: "open-external"
                onClicked: view.vm.OpenCorvana()
            }
        }
    }
}
