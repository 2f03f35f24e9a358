#pragma once
// LiveViewController: the screen the anchor broadcasts from, landscape only. It owns one streaming
// session for its life and shows its preview under the control panel; the capture button starts and
// ends publishing by the session's state, and a stream that ends without being asked to is restarted
// once. While on screen it runs the chat-room client (route request, one socket, enter-room message,
// the barrage list, reconnects after a drop), the viewer-count poll and the barrage redraw. It follows
// the application's activity and the network: publishing stopped or lost that way resumes only from an
// idle state, never by ending a live stream.
//
// Threads: the main thread, except the chat socket's callbacks, which run one at a time, in order, on
// the queue "com.dispatch.concurrent.live" and touch only the barrage list (under the screen's lock),
// their own frame buffer and atomics. Session states may be reported from any thread; they are handled
// on the main queue. Callbacks of a chat connection that was dropped (or replaced) are ignored.
//
// The header holds the class with all its parts; the implementation is spread over
// LiveViewController+CaptureSession.cpp, +Request.cpp, +BarrageView.cpp, +Subviews.cpp, +DataSource.cpp.
// Make it with create(); the home screen presents it modally.

#include "app/core/ChatModel.h"
#include "app/core/RoomModel.h"
#include "app/screens/ChatRoomProtocol.h"
#include "app/screens/LiveControlPanel.h"
#include "app/screens/ReconnectBackoff.h"
#include "app/ui/BaseViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Date.h"
#include "platform/runloop/Timer.h"
#include "platform/ui/UICollectionView.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "sockets/queue/QueueSocket.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr const char* kLiveChatQueueLabel = "com.dispatch.concurrent.live";

class LiveViewController : public BaseViewController,
                           public platform::UICollectionViewDataSource,
                           public platform::UICollectionViewDelegateFlowLayout,
                           public LiveControlPanelTouchProtocol,
                           public FacialSettingViewDelegate {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using ComplectionHandler = std::function<void(double liveSeconds)>;
    using ChatLines = std::vector<std::shared_ptr<ChatModel>>;

    static constexpr size_t kBarrageCapacity = 100;
    static constexpr double kBarrageRefreshingInterval = 0.5;
    static constexpr double kShortestRoomInfoInterval = 1.0;

    // init: also follows the application's resigning and becoming active.
    static std::shared_ptr<LiveViewController> create();
    explicit LiveViewController(PrivateTag);
    ~LiveViewController() override;

    // ---- The screen ------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    uint64_t supportedInterfaceOrientations() const override; // landscape left and right (24)
    bool shouldAutorotate() const override { return m_canRotateToAllOrientations; }
    bool preferredNetworkMonitoring() override { return true; }
    void networkStatusChanged(const platform::Notification& notification) override;
    bool respondsTo(std::string_view selector) const override;

    void startLive() { operateSession(); }
    void stopLive() { operateSession(); }
    void handleApplicationResignActive();
    void handleApplicationBecomeActive();

    bool hasAutoStopLive() const { return m_hasAutoStopLive; }
    void setHasAutoStopLive(bool on) { m_hasAutoStopLive = on; }
    bool hasNetworkDisconnected() const { return m_hasNetworkDisconnected; }
    void setHasNetworkDisconnected(bool on) { m_hasNetworkDisconnected = on; }
    bool hasPressedBackButton() const { return m_backButtonPressed; }
    void setBackButtonPressed(bool on) { m_backButtonPressed = on; }
    bool canRotateToAllOrientations() const { return m_canRotateToAllOrientations; }
    void setCanRotateToAllOrientations(bool on) { m_canRotateToAllOrientations = on; }
    const platform::UIViewPtr& previewView();
    const std::shared_ptr<LiveControlPanel>& controlPanel();
    const std::shared_ptr<LiveSimpleSession>& simpleSession();
    const ComplectionHandler& complectionHandler() const { return m_complectionHandler; }
    void setComplectionHandler(ComplectionHandler handler) { m_complectionHandler = std::move(handler); }

    // ---- CaptureSession: publishing --------------------------------------------------------------
    // Without a push address: a prompt and a new stream-key request, nothing else. Otherwise the capture
    // button records the press, live time is booked, and states 0, 1, 4, 5 start publishing, 3 ends it.
    void operateSession();
    std::optional<std::string> pushStreamInterface() const;
    bool isCapturing(); // state 2 or 3
    void recordLiveSeconds();
    // connectionStatusChanged: (LiveSessionDelegate), from any thread.
    void connectionStatusChanged(LiveSessionState sessionState);
    void sessionNotifacation(const platform::Notification& notification);
    double liveSeconds() const { return m_liveSeconds; }
    void setLiveSeconds(double seconds) { m_liveSeconds = seconds; }
    platform::Date liveStartDate() const { return m_liveStartDate; }
    void setLiveStartDate(platform::Date date) { m_liveStartDate = date; }

    // ---- Request: the chat-room client and the timers ----------------------------------------------
    const QueueSocketPtr& barrageSocket();
    int32_t messgaeIndex() const { return m_messgaeIndex; }
    void setMessgaeIndex(int32_t index) { m_messgaeIndex = index; }
    // A new connection: any earlier one (or one still under way) is dropped first.
    void connectBarrage();
    // Drops the connection, also one still connecting or still asking for the address; a disconnect
    // made here adds no line and does not reconnect.
    void disconnectBarrage();
    void receivedChatRoomHostData(const platform::Data& data);
    // The decoded address; false when it is not worth a connect (see detail::ChatRoute).
    static bool parseChatRoomHostData(const platform::Data& data, std::optional<std::string>* host,
                                      int64_t* port);
    bool barrageListening(const std::string& host, int64_t port);
    void enterCharRoomRequest();
    static std::string pid() { return "10003"; }
    std::string rid() const; // the room id of the current connection
    static std::string os() { return "3"; }
    static std::string ver() { return "1"; }
    int32_t timestamp() const;
    static int32_t encryptOS(int32_t os) { return detail::encryptOS(os); }
    static int32_t encryptVer(int32_t ver) { return detail::encryptVer(ver); }
    static int32_t encryptTimestamp(int32_t sum) { return detail::encryptTimestamp(sum); }
    void outputChatRoomConnectState(int64_t type);
    // One whole frame, its length prefix included.
    void socketReceivedData(std::span<const uint8_t> frame);
    void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host, uint16_t port);
    void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag);
    void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data, int64_t tag);
    void socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr& err);
    const std::shared_ptr<platform::Timer>& roomInfoRequestTimer() const { return m_roomInfoRequestTimer; }
    const std::shared_ptr<platform::Timer>& barrageRefreshingTimer() const {
        return m_barrageRefreshingTimer;
    }
    void autoRequestRoomInfo();
    void requestRoomInfo();
    void stopRequestRoomInfo();
    void autoRefreshBarrage();
    void stopRefreshingBarrage();
    // The heartbeat, built but not started by the screen.
    void checkLongConnectByServe();
    void sendMessage(const std::string& message, const std::string& pid);
    // The second address decoder: decodes and keeps nothing.
    static void parseSite(const platform::Data& data);
    static void decrypt(int32_t* value);

    // ---- BarrageView: the list's data source and layout delegate ----------------------------------
    void setupBarrageCollectionView();
    platform::UICollectionViewPtr barrageCollectionView();
    platform::CGRect barrageCollectionViewFrame();
    // Takes the list under the lock, reloads, and follows the newest line unless the user touches it.
    void reloadBarrageCollectionView();
    int64_t numberOfSectionsInCollectionView(platform::UICollectionView* collectionView) override;
    int64_t collectionViewNumberOfItemsInSection(platform::UICollectionView* collectionView,
                                                 int64_t section) override;
    platform::UICollectionViewCellPtr
    collectionViewCellForItemAtIndexPath(platform::UICollectionView* collectionView,
                                         const platform::NSIndexPathPtr& indexPath) override;
    platform::CGSize
    collectionViewLayoutSizeForItemAtIndexPath(platform::UICollectionView* collectionView,
                                               platform::UICollectionViewLayout* layout,
                                               const platform::NSIndexPathPtr& indexPath) override;
    platform::UIEdgeInsets
    collectionViewLayoutInsetForSectionAtIndex(platform::UICollectionView* collectionView,
                                               platform::UICollectionViewLayout* layout,
                                               int64_t section) override;
    double
    collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(platform::UICollectionView* collectionView,
                                                                 platform::UICollectionViewLayout* layout,
                                                                 int64_t section) override;
    double collectionViewLayoutMinimumLineSpacingForSectionAtIndex(platform::UICollectionView* collectionView,
                                                                   platform::UICollectionViewLayout* layout,
                                                                   int64_t section) override;
    bool collectionViewShouldSelectItemAtIndexPath(platform::UICollectionView* collectionView,
                                                   const platform::NSIndexPathPtr& indexPath) override;
    void collectionViewDidSelectItemAtIndexPath(platform::UICollectionView* collectionView,
                                                const platform::NSIndexPathPtr& indexPath) override;

    // ---- Subviews: building and the controls -----------------------------------------------------
    void setupSubviews();
    void setupConstraints();
    void addControlEvents();
    void updateViewerView();
    void reloadBarrageView();
    // Leaving: refused while capturing; otherwise the beauty levels are kept and the screen dismissed.
    void backButtonPressed();
    void flashButtonPressed();
    void cameraButtonPressed();
    void barrageButtonPressed();
    void facialButtonPressed();
    void captureButtonPressed();
    void facialSettingViewBeatyEffectSlider(FacialSettingView* view, platform::UISlider* bright,
                                            platform::UISlider* smooth, platform::UISlider* pink) override;
    void liveControlPanelTapPoint(LiveControlPanel* panel, platform::CGPoint point) override;
    void liveControlPanelZoom(LiveControlPanel* panel, double zoom, platform::CGPoint centerPoint) override;

    // ---- DataSource: the room and the barrage list ------------------------------------------------
    std::shared_ptr<RoomModel> liveRoomModel() const { return m_liveRoomModel; }
    void setLiveRoomModel(std::shared_ptr<RoomModel> room) { m_liveRoomModel = std::move(room); }
    // A copy of the list, taken under the lock after the trim rule: an access that finds 100 or more
    // lines drops the oldest one first.
    ChatLines barrageDataSource();
    void setBarrageDataSource(ChatLines lines);
    // Appends under the lock (after the same trim), from any thread. A null line is dropped.
    void addBarrageData(std::shared_ptr<ChatModel> line);

private:
    class SessionDelegate;
    class ChatSocketDelegate;

    std::shared_ptr<LiveViewController> self();
    void handleConnectionStatus(LiveSessionState sessionState);
    // Resumes publishing stopped by inactivity or a lost network, only from an idle state.
    bool resumeLive();
    void endPublishingOnRequest();
    ChatLines& trimmedBarrageList(); // with the lock held
    bool isCurrentChat(uint64_t generation) const { return generation == m_chatGeneration; }
    void reconnectAfterDrop(uint64_t generation);
    void writeRoomMessage(const std::string& pid);
    void followNewestLine();

    bool m_hasAutoStopLive{false};
    bool m_hasNetworkDisconnected{false};
    std::atomic<bool> m_backButtonPressed{false};
    bool m_canRotateToAllOrientations{false};
    platform::UIViewPtr m_previewView;
    std::shared_ptr<LiveControlPanel> m_controlPanel;
    std::shared_ptr<LiveSimpleSession> m_simpleSession;
    std::shared_ptr<SessionDelegate> m_sessionDelegate;
    ComplectionHandler m_complectionHandler;

    double m_liveSeconds{0};
    platform::Date m_liveStartDate{0};

    QueueSocketPtr m_barrageSocket;
    std::shared_ptr<ChatSocketDelegate> m_chatSocketDelegate;
    std::atomic<int32_t> m_messgaeIndex{0};
    std::atomic<uint64_t> m_chatGeneration{0};
    mutable std::mutex m_chatMutex; // the connection's room id and the reconnect pace
    std::string m_chatRoomId;
    detail::ReconnectBackoff m_reconnectBackoff;
    detail::ChatFrameSplitter m_frameSplitter; // the chat queue's alone
    std::shared_ptr<platform::Timer> m_roomInfoRequestTimer;
    std::shared_ptr<platform::Timer> m_barrageRefreshingTimer;
    bool m_longConnectCheckStarted{false};

    std::shared_ptr<RoomModel> m_liveRoomModel;
    std::recursive_mutex m_lock; // the screen's lock: the barrage list
    ChatLines m_barrageDataSource;
    ChatLines m_shownBarrage; // main thread: the lines the list shows since the last redraw
};
