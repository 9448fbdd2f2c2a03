import QtQuick

// How a feed tile draws its item: the cover's shape (a Cover's "rounded" or "circle") and the captions'
// alignment. CorvanaResourceDictionary holds the two styles.
QtObject {
    required property string shape
    required property int captionAlignment
}
