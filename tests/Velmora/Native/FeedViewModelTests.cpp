// The feed, category and device view models, the view-model base and the list model.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/Native/Framework/ResourceHelper.h"
#include "Velmora/Native/Framework/ResourceLoader.h"
#include "Velmora/Native/ViewModels/CorvanaItemViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaPlaybackDeviceViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaViewCategoryViewModel.h"
#include "Velmora/Native/ViewModels/CorvanaWidgetViewModel.h"
#include "tests/Velmora/Native/ViewModelTestSupport.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/FakeDesktopConnection.h"
#include "tests/support/TestHelpers.h"

using namespace velmora;
using testsupport::FakeDesktopConnection;
using testsupport::FeedItem;
using utils::corvana_client::HomeItem;

namespace {

struct FeedFixture : testing::Test {
    std::shared_ptr<platform::ManualDispatcher> ui = platform::ManualDispatcher::Create();
    std::shared_ptr<FakeDesktopConnection::Script> script = std::make_shared<FakeDesktopConnection::Script>();
    std::shared_ptr<utils::DesktopAPIController> controller = utils::DesktopAPIController::Create(
        std::make_unique<FakeDesktopConnection>(script), utils::WidgetMode::Native);
};

HomeItem WithArtists(HomeItem item, std::vector<std::string> artists) {
    item.artists = std::move(artists);
    return item;
}

}  // namespace

TEST(MakeViewItem, MapsKindDescriptionAndCover) {
    HomeItem all = FeedItem("n", "episode", "corvana:episode:1");
    all.showName = "Show";
    all.ownerDisplayName = "Owner";
    all.description = "About";
    HomeItem ownerAndDescription = FeedItem("n", "playlist", "u");
    ownerAndDescription.ownerDisplayName = "Owner";
    ownerAndDescription.description = "About";
    HomeItem descriptionOnly = FeedItem("n", "show", "u");
    descriptionOnly.description = "About";
    HomeItem albumCover = FeedItem("n", "track", "u");
    albumCover.albumImages = {"https://a/1.jpg", "https://a/2.jpg"};
    HomeItem ownCover = FeedItem("n", "track", "u", {"https://i/1.jpg", "https://i/2.jpg"});
    ownCover.albumImages = {"https://a/1.jpg"};

    struct Case {
        HomeItem item;
        CorvanaViewItemKind kind;
        std::string description;
        std::string imageUrl;
    };
    std::vector<Case> cases = {
        {FeedItem("n", "artist", "u"), CorvanaViewItemKind::Artist, "", ""},
        {FeedItem("n", "Artist", "u"), CorvanaViewItemKind::Unknown, "", ""},
        {FeedItem("n", "album", "u"), CorvanaViewItemKind::Album, "", ""},
        {FeedItem("n", "playlist", "u"), CorvanaViewItemKind::Playlist, "", ""},
        {FeedItem("n", "station", "u"), CorvanaViewItemKind::Station, "", ""},
        {FeedItem("n", "podcast", "u"), CorvanaViewItemKind::Unknown, "", ""},
        {WithArtists(all, {"A", "B"}), CorvanaViewItemKind::Episode, "A, B", ""},
        {all, CorvanaViewItemKind::Episode, "Show", ""},
        {ownerAndDescription, CorvanaViewItemKind::Playlist, "Owner", ""},
        {descriptionOnly, CorvanaViewItemKind::Show, "About", ""},
        {albumCover, CorvanaViewItemKind::Track, "", "https://a/1.jpg"},
        {ownCover, CorvanaViewItemKind::Track, "", "https://i/1.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.type + " / " + c.description);
        CorvanaViewItem view = MakeViewItem(c.item);
        EXPECT_EQ(view.Kind, c.kind);
        EXPECT_EQ(view.Description, c.description);
        EXPECT_EQ(view.ImageUrl, c.imageUrl);
        EXPECT_EQ(view.Name, c.item.name);
        EXPECT_EQ(view.Uri, c.item.uri);
    }
}

TEST_F(FeedFixture, AnItemShowsItsStyleAndCoverAndPlaysItsContext) {
    struct Case {
        CorvanaViewItemKind kind;
        std::string imageUrl;
        bool circular;
        QUrl image;
    };
    std::vector<Case> cases = {
        {CorvanaViewItemKind::Artist, "https://i/a.jpg", true, QUrl("https://i/a.jpg")},
        {CorvanaViewItemKind::Album, "", false, QUrl()},
        {CorvanaViewItemKind::Unknown, "::not a url::", false, QUrl()},
    };
    for (const auto& c : cases) {
        auto item = CorvanaItemViewModel::Create({"<b>Name</b>", "Desc", "corvana:x:1", c.imageUrl, c.kind},
                                                 controller);
        EXPECT_EQ(item->IsCircular(), c.circular);
        EXPECT_EQ(item->ImageStyle(), c.circular ? "CorvanaItemCircleButtonStyle" : "CorvanaItemButtonStyle");
        EXPECT_EQ(item->Image(), c.image);
        EXPECT_EQ(item->Name(), "<b>Name</b>");  // kept as it is; the page shows it as plain text
    }

    auto item = CorvanaItemViewModel::Create({"n", "", "corvana:playlist:42", "", {}}, controller);
    item->PlayAsync();
    ASSERT_TRUE(script->WaitForRequests(1));
    auto request = script->Requests().at(0);
    EXPECT_EQ(request.method, "playback_play");
    EXPECT_EQ(request.params.Lookup("context").AsString(), "corvana:playlist:42");

    auto detached = CorvanaItemViewModel::Create({"n", "", "corvana:playlist:42", "", {}}, nullptr);
    detached->PlayAsync();  // nothing to ask: completes without a request
    EXPECT_EQ(script->Requests().size(), 1u);
}

TEST_F(FeedFixture, CategoriesKeepFeedOrderAndAnEmptyRowHasAnEmptyVector) {
    CorvanaViewCategory row{"Row", {{"a", "", "u:a", "", {}}, {"b", "", "u:b", "", {}}}};
    auto category = CorvanaViewCategoryViewModel::Create(row, controller);
    ASSERT_EQ(category->Items()->Count(), 2);
    EXPECT_EQ(category->Items()->At<CorvanaItemViewModel>(0)->Name(), "a");
    EXPECT_EQ(category->Items()->At<CorvanaItemViewModel>(1)->Name(), "b");

    auto empty = CorvanaViewCategoryViewModel::Create({"Empty", {}}, controller);
    ASSERT_NE(empty->Items(), nullptr);
    EXPECT_EQ(empty->Items()->Count(), 0);

    // Replacing the collection notifies once; the same collection again notifies nothing.
    testsupport::NotificationLog log(category.get(), ui);
    category->SetItems(category->Items());
    category->SetItems(ObservableVector::Create());
    ui->RunPending();
    EXPECT_EQ(log.Counts(), (std::map<std::string, int>{{"Items", 1}}));
}

TEST_F(FeedFixture, ASetterNotifiesOnceOnTheUiThreadAfterStoringAndNeverWhenUnchanged) {
    auto item = CorvanaItemViewModel::Create({"n", "first", "u", "", {}}, controller);
    testsupport::NotificationLog log(item.get(), ui);

    item->SetDescription("first");
    item->SetDescription("second");
    EXPECT_EQ(item->Description(), "second");  // readable at once
    EXPECT_EQ(log.Count("Description"), 0);    // delivered only through the UI thread's queue
    ui->RunPending();
    EXPECT_EQ(log.Counts(), (std::map<std::string, int>{{"Description", 1}}));

    // From another thread, the notification still comes on the UI thread.
    std::thread([&] { item->SetDescription("third"); }).join();
    ui->RunPending();
    EXPECT_EQ(log.Count("Description"), 2);
    EXPECT_TRUE(log.AllOnUiThreadWithValue());
}

TEST_F(FeedFixture, ANotificationQueuedForAReleasedViewModelIsDropped) {
    auto item = CorvanaItemViewModel::Create({"n", "first", "u", "", {}}, controller);
    QSignalSpy destroyed(item.get(), &QObject::destroyed);
    item->SetDescription("second");
    item.reset();
    EXPECT_EQ(destroyed.count(), 1);
    EXPECT_EQ(ui->RunPending(), 1u);  // the queued notification runs and finds nothing to notify
}

TEST_F(FeedFixture, AViewModelReleasedOnAnotherThreadIsDestroyedOnTheUiThread) {
    auto item = CorvanaItemViewModel::Create({"n", "", "u", "", {}}, controller);
    std::thread::id destroyedOn;
    QObject::connect(item.get(), &QObject::destroyed, [&] { destroyedOn = std::this_thread::get_id(); });
    std::thread([held = std::move(item)]() mutable { held.reset(); }).join();
    EXPECT_EQ(destroyedOn, std::thread::id());
    ui->RunPending();
    EXPECT_EQ(destroyedOn, std::this_thread::get_id());
}

TEST(ViewModelBase, RefusesAThreadWithoutADispatcher) {
    int32_t code = 0;
    std::thread([&] {
        code = testsupport::ErrorCodeOf([] {
            CorvanaPlaybackDeviceViewModel::Create({true, "id", "n", false, false, ""});
        });
    }).join();
    EXPECT_EQ(code, platform::E_UNEXPECTED);
}

TEST_F(FeedFixture, TheListModelReportsRowsAsTheyComeAndGo) {
    auto list = ObservableVector::Create();
    QSignalSpy inserted(list.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(list.get(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(list.get(), &QAbstractItemModel::modelReset);
    auto first = CorvanaPlaybackDeviceViewModel::Create({true, "a", "A", false, false, ""});
    list->Append(first);
    list->Append(CorvanaPlaybackDeviceViewModel::Create({true, "b", "B", false, false, ""}));
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);  // the second append inserted row 1
    EXPECT_EQ(list->rowCount(), 2);
    auto role = list->roleNames().key("modelData");
    EXPECT_EQ(list->data(list->index(0), role).value<QObject*>(), first.get());

    list->Clear();
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(2).toInt(), 1);  // rows 0 to 1
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(list->rowCount(), 0);
}

TEST(ResourceHelper, AMissingKeyFailsAndThePackagedTableHasEveryKeyTheViewModelsUse) {
    framework::ResourceHelper::UseTable({{"Only", "text"}});
    EXPECT_EQ(framework::ResourceHelper::GetString("Only"), "text");
    EXPECT_EQ(testsupport::ErrorCodeOf([] { framework::ResourceHelper::GetString("Missing"); }),
              platform::E_POINTER);
    framework::ResourceHelper::UseTable({});

    auto packaged = framework::ResourceLoader::ForCurrentLocale();
    for (const char* key : testsupport::kViewModelStringKeys) {
        auto text = packaged.GetString(key);
        EXPECT_TRUE(text && !text->empty()) << key << " in " << packaged.Source();
    }
}

TEST_F(FeedFixture, LargeOrOddFeedsBuildWithoutError) {
    auto feed = testsupport::Feed(1, 500);
    HomeItem bare;  // no name, type, uri or images
    HomeItem markup = FeedItem("<i>x</i> & <script>", "track", "corvana:track:m", {"not a url"});
    feed.push_back({"", {bare, markup}});
    feed.push_back({"Empty row", {}});
    feed.push_back({std::string(100000, 'n'), {}});  // a row title is one line, as an item's name is

    auto categories = CorvanaWidgetViewModel::BuildCategories(feed, controller);
    ASSERT_EQ(categories->Count(), 4);
    EXPECT_EQ(categories->At<CorvanaViewCategoryViewModel>(3)->Name(),
              QString(static_cast<qsizetype>(kShownTextCodePoints), 'n'));
    EXPECT_EQ(categories->At<CorvanaViewCategoryViewModel>(0)->Items()->Count(), 500);
    auto odd = categories->At<CorvanaViewCategoryViewModel>(1)->Items();
    EXPECT_EQ(odd->At<CorvanaItemViewModel>(0)->Name(), "");
    EXPECT_EQ(odd->At<CorvanaItemViewModel>(1)->Name(), "<i>x</i> & <script>");
    EXPECT_EQ(odd->At<CorvanaItemViewModel>(1)->Image(), QUrl());
    EXPECT_EQ(categories->At<CorvanaViewCategoryViewModel>(2)->Items()->Count(), 0);
}
