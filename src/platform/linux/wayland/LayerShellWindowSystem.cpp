#include "platform/linux/wayland/LayerShellWindowSystem.h"

#include "platform/linux/overlay/OverlayContentView.h"

#include "platform/linux/wayland/LayerShellProtocol.h"

#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <list>

namespace tavrine {

namespace {

class LayerSurfaceWindow;

// One wl_output as the compositor describes it. Shared with the windows on it, which outlive its removal
// until the manager drops them.
struct Output {
    std::uint32_t name = 0; // the registry's name of the global
    ScreenId id = 0;
    wl_output* output = nullptr;
    int x = 0, y = 0, modeWidth = 0, modeHeight = 0, transform = 0, scale = 1;
    bool described = false; // a first `done` arrived
    std::function<void(Output&)> onDone;

    ScreenRect frame() const {
        const bool turned = (transform % 2) == 1; // 90 and 270 degrees, flipped or not
        const int w = turned ? modeHeight : modeWidth;
        const int h = turned ? modeWidth : modeHeight;
        const int s = std::max(scale, 1);
        return ScreenRect{x, y, w / s, h / s};
    }
};

// A shared-memory buffer the compositor reads; busy from attach until the compositor releases it.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    void* data = nullptr;
    std::size_t size = 0;
    int width = 0, height = 0;
    bool busy = false;
    std::function<void()> onRelease;

    ShmBuffer() = default;
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;
    ~ShmBuffer() { reset(); }

    int stride() const { return width * 4; }

    bool create(wl_shm* shm, int w, int h) {
        reset();
        const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
        const int fd = memfd_create("tavrine-overlay", MFD_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
            close(fd);
            return false;
        }
        void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED) {
            close(fd);
            return false;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(bytes));
        buffer = wl_shm_pool_create_buffer(pool, 0, w, h, w * 4, WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        static const wl_buffer_listener listener{[](void* self, wl_buffer*) {
            auto* b = static_cast<ShmBuffer*>(self);
            b->busy = false;
            if (b->onRelease) {
                b->onRelease();
            }
        }};
        wl_buffer_add_listener(buffer, &listener, this);
        data = mapped;
        size = bytes;
        width = w;
        height = h;
        return true;
    }

    void reset() {
        if (buffer) {
            wl_buffer_destroy(buffer);
        }
        if (data) {
            munmap(data, size);
        }
        buffer = nullptr;
        data = nullptr;
        size = 0;
        width = height = 0;
        busy = false;
    }
};

} // namespace

struct LayerShellWindowSystem::Impl {
    LayerShellWindowSystem& owner;
    Executor& executor;
    const Clock& clock;
    QString badgeText;

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    std::uint32_t layerShellVersion = 0;
    std::unique_ptr<QSocketNotifier> notifier;
    bool lost = false;

    std::vector<std::shared_ptr<Output>> outputs;
    std::list<LayerSurfaceWindow*> windows;
    ScreenId nextId = 1;
    bool announcing = false;
    TaskHandle pendingAnnounce;
    long framesPresented = 0;

    Impl(LayerShellWindowSystem& owner, Executor& executor, const Clock& clock, QString badgeText)
        : owner(owner), executor(executor), clock(clock), badgeText(std::move(badgeText)) {}

    ~Impl() {
        pendingAnnounce.cancel();
        notifier.reset();
        for (auto& output : outputs) {
            releaseOutput(*output);
        }
        if (layerShell) {
            if (layerShellVersion >= 3) {
                zwlr_layer_shell_v1_destroy(layerShell);
            } else {
                wl_proxy_destroy(reinterpret_cast<wl_proxy*>(layerShell));
            }
        }
        if (shm) {
            wl_shm_destroy(shm);
        }
        if (compositor) {
            wl_compositor_destroy(compositor);
        }
        if (registry) {
            wl_registry_destroy(registry);
        }
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    bool connect() {
        display = wl_display_connect(nullptr);
        if (!display) {
            return false;
        }
        registry = wl_display_get_registry(display);
        static const wl_registry_listener listener{
            [](void* self, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
                static_cast<Impl*>(self)->global(name, interface, version);
            },
            [](void* self, wl_registry*, std::uint32_t name) {
                static_cast<Impl*>(self)->globalRemoved(name);
            }};
        wl_registry_add_listener(registry, &listener, this);
        // The first round trip lists the globals, the second brings the outputs' descriptions.
        if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
            return false;
        }
        if (!compositor || !shm || !layerShell) {
            return false;
        }
        notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &owner, [this] { readEvents(); });
        return true;
    }

    void global(std::uint32_t name, const char* interface, std::uint32_t version) {
        auto bind = [&](const wl_interface* iface, std::uint32_t upTo) {
            return wl_registry_bind(registry, name, iface, std::min(version, upTo));
        };
        if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
            compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
        } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
            shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
        } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
            layerShellVersion = std::min(version, 4u);
            layerShell = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 4));
        } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
            auto output = std::make_shared<Output>();
            output->name = name;
            output->id = nextId++;
            output->output = static_cast<wl_output*>(bind(&wl_output_interface, 3));
            addOutputListener(*output);
            outputs.push_back(output);
        }
    }

    void globalRemoved(std::uint32_t name) {
        auto it =
            std::find_if(outputs.begin(), outputs.end(), [name](const auto& o) { return o->name == name; });
        if (it == outputs.end()) {
            return;
        }
        releaseOutput(**it);
        outputs.erase(it);
        announce();
    }

    static void releaseOutput(Output& output) {
        if (!output.output) {
            return;
        }
        if (wl_output_get_version(output.output) >= 3) {
            wl_output_release(output.output);
        } else {
            wl_output_destroy(output.output);
        }
        output.output = nullptr;
    }

    void addOutputListener(Output& output);
    void outputDone(Output& output);

    void readEvents() {
        if (lost) {
            return;
        }
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0) {
                connectionLost();
                return;
            }
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
            connectionLost();
            return;
        }
        flush();
    }

    void flush() {
        if (!lost && wl_display_flush(display) < 0 && errno != EAGAIN) {
            connectionLost();
        }
    }

    void connectionLost() {
        if (lost) {
            return;
        }
        lost = true;
        notifier->setEnabled(false);
        std::fprintf(stderr,
                     "tavrine\u00a0: la connexion au compositeur Wayland est perdue (erreur %d)\u202f; "
                     "le calque n’est plus affiché.\n",
                     wl_display_get_error(display));
    }

    void announce() {
        // A hotplug comes as several events (global, geometry, mode, scale, done): observers read the
        // settled list once.
        if (announcing) {
            return;
        }
        announcing = true;
        pendingAnnounce = executor.post([this] {
            announcing = false;
            Q_EMIT owner.screensChanged();
        });
    }

    std::shared_ptr<Output> outputFor(ScreenId id) const {
        for (const auto& output : outputs) {
            if (output->id == id) {
                return output;
            }
        }
        return nullptr;
    }
};

namespace {

// One overlay window: a layer surface on the overlay layer of its output, painted from an
// OverlayContentView that is never shown itself.
class LayerSurfaceWindow final : public OverlayWindow {
  public:
    LayerSurfaceWindow(LayerShellWindowSystem::Impl& system, std::shared_ptr<Output> output,
                       OverlayWindowManager& manager)
        : system_(system), output_(std::move(output)),
          view_(manager, system.executor, system.clock, system.badgeText) {
        QObject::connect(&view_, &OverlayContentView::contentChanged, [this] { schedulePaint(); });
        for (auto& buffer : buffers_) {
            buffer.onRelease = [this] {
                if (dirty_) {
                    schedulePaint();
                }
            };
        }
        system_.windows.push_back(this);
    }

    ~LayerSurfaceWindow() override {
        std::erase(system_.windows, this);
        hide();
    }

    void show() override {
        if (surface_ || !output_ || !output_->output || system_.lost) {
            return;
        }
        surface_ = wl_compositor_create_surface(system_.compositor);
        wl_region* nothing = wl_compositor_create_region(system_.compositor);
        wl_surface_set_input_region(surface_, nothing); // every click goes to the windows beneath
        wl_region_destroy(nothing);
        layer_ = zwlr_layer_shell_v1_get_layer_surface(system_.layerShell, surface_, output_->output,
                                                       ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tavrine-overlay");
        static const zwlr_layer_surface_v1_listener listener{
            [](void* self, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
               std::uint32_t height) {
                static_cast<LayerSurfaceWindow*>(self)->configure(serial, width, height);
            },
            [](void* self, zwlr_layer_surface_v1*) { static_cast<LayerSurfaceWindow*>(self)->closed(); }};
        zwlr_layer_surface_v1_add_listener(layer_, &listener, this);
        zwlr_layer_surface_v1_set_anchor(
            layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(layer_, 0, 0);
        zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1); // over panels too, pushing nothing aside
        zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, 0);
        wl_surface_commit(surface_); // the compositor answers with the size
        system_.flush();
    }

    void hide() override {
        paintTask_.cancel();
        paintScheduled_ = false;
        if (frame_) {
            wl_callback_destroy(frame_);
            frame_ = nullptr;
        }
        if (layer_) {
            zwlr_layer_surface_v1_destroy(layer_);
            layer_ = nullptr;
        }
        if (surface_) {
            wl_surface_destroy(surface_);
            surface_ = nullptr;
        }
        for (auto& buffer : buffers_) {
            buffer.reset();
        }
        configured_ = false;
        if (!system_.lost && system_.display) {
            system_.flush();
        }
    }

    // The compositor sizes the surface to its output; a new frame only says the scale may have changed.
    void setFrame(const ScreenRect&) override { outputChanged(); }

    void outputChanged() {
        if (output_ && output_->scale != scale_) {
            schedulePaint();
        }
    }

    const Output* output() const { return output_.get(); }

  private:
    void configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
        zwlr_layer_surface_v1_ack_configure(layer_, serial);
        const bool sameSize =
            configured_ && width_ == static_cast<int>(width) && height_ == static_cast<int>(height);
        if (sameSize) {
            // The compositor confirms what the surface already shows: the acknowledgement needs a commit,
            // not a new frame.
            wl_surface_commit(surface_);
            system_.flush();
            return;
        }
        width_ = static_cast<int>(width);
        height_ = static_cast<int>(height);
        configured_ = width_ > 0 && height_ > 0;
        view_.resize(width_, height_);
        schedulePaint();
    }

    void closed() {
        // The output went away: the surface is dead; the manager drops this window when it learns it.
        hide();
        output_.reset();
    }

    void schedulePaint() {
        dirty_ = true;
        if (paintScheduled_) {
            return;
        }
        paintScheduled_ = true;
        paintTask_ = system_.executor.post([this] {
            paintScheduled_ = false;
            paint();
        });
    }

    ShmBuffer* freeBuffer(int w, int h) {
        for (auto& buffer : buffers_) {
            if (!buffer.busy && buffer.buffer && buffer.width == w && buffer.height == h) {
                return &buffer;
            }
        }
        for (auto& buffer : buffers_) {
            if (!buffer.busy) {
                return buffer.create(system_.shm, w, h) ? &buffer : nullptr;
            }
        }
        return nullptr;
    }

    void paint() {
        // Paints at most once per frame the compositor shows, and only what changed since: a frame
        // request or a busy buffer defers the paint until the compositor is ready.
        if (!surface_ || !configured_ || frame_ || !dirty_ || system_.lost) {
            return;
        }
        const int scale = std::max(output_ ? output_->scale : 1, 1);
        ShmBuffer* buffer = freeBuffer(width_ * scale, height_ * scale);
        if (!buffer) {
            return; // a release repaints
        }
        QImage image(static_cast<uchar*>(buffer->data), buffer->width, buffer->height, buffer->stride(),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        if (!view_.isStripeLayerPresent()) {
            image.fill(Qt::transparent); // the stripe layer, when there, replaces every pixel itself
        }
        {
            QPainter painter(&image);
            view_.paintLayers(painter);
        }
        scale_ = scale;
        dirty_ = false;
        wl_surface_set_buffer_scale(surface_, scale);
        wl_surface_attach(surface_, buffer->buffer, 0, 0);
        wl_surface_damage_buffer(surface_, 0, 0, buffer->width, buffer->height);
        frame_ = wl_surface_frame(surface_);
        static const wl_callback_listener listener{[](void* self, wl_callback*, std::uint32_t) {
            auto* window = static_cast<LayerSurfaceWindow*>(self);
            wl_callback_destroy(window->frame_);
            window->frame_ = nullptr;
            if (window->dirty_) {
                window->schedulePaint();
            }
        }};
        wl_callback_add_listener(frame_, &listener, this);
        wl_surface_commit(surface_);
        buffer->busy = true;
        ++system_.framesPresented;
        system_.flush();
    }

    LayerShellWindowSystem::Impl& system_;
    std::shared_ptr<Output> output_;
    OverlayContentView view_;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    wl_callback* frame_ = nullptr;
    std::array<ShmBuffer, 2> buffers_;
    bool configured_ = false;
    bool dirty_ = false;
    bool paintScheduled_ = false;
    TaskHandle paintTask_;
    int width_ = 0, height_ = 0, scale_ = 1;
};

} // namespace

void LayerShellWindowSystem::Impl::addOutputListener(Output& output) {
    static const wl_output_listener listener{
        [](void* self, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, std::int32_t,
           const char*, const char*, std::int32_t transform) {
            auto* o = static_cast<Output*>(self);
            o->x = x;
            o->y = y;
            o->transform = transform;
        },
        [](void* self, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
            if (flags & WL_OUTPUT_MODE_CURRENT) {
                auto* o = static_cast<Output*>(self);
                o->modeWidth = width;
                o->modeHeight = height;
            }
        },
        [](void* self, wl_output*) {
            auto* o = static_cast<Output*>(self);
            o->onDone(*o);
        },
        [](void* self, wl_output*, std::int32_t factor) { static_cast<Output*>(self)->scale = factor; },
        [](void*, wl_output*, const char*) {}, // name and description: not asked for (version 3)
        [](void*, wl_output*, const char*) {},
    };
    output.onDone = [this](Output& o) { outputDone(o); };
    wl_output_add_listener(output.output, &listener, &output);
}

void LayerShellWindowSystem::Impl::outputDone(Output& output) {
    output.described = true;
    for (LayerSurfaceWindow* window : windows) {
        if (window->output() == &output) {
            window->outputChanged();
        }
    }
    announce();
}

LayerShellWindowSystem::LayerShellWindowSystem(Executor& executor, QString badgeText, const Clock& clock)
    : impl_(std::make_unique<Impl>(*this, executor, clock, std::move(badgeText))) {
    if (!impl_->connect()) {
        impl_.reset();
    }
}

LayerShellWindowSystem::~LayerShellWindowSystem() = default;

bool LayerShellWindowSystem::isConnected() const {
    return impl_ != nullptr;
}

std::vector<ScreenInfo> LayerShellWindowSystem::screens() const {
    std::vector<ScreenInfo> out;
    if (!impl_) {
        return out;
    }
    for (const auto& output : impl_->outputs) {
        if (output->described && output->output) {
            out.push_back(ScreenInfo{output->id, output->frame()});
        }
    }
    return out;
}

std::unique_ptr<OverlayWindow> LayerShellWindowSystem::createOverlayWindow(const ScreenInfo& screen,
                                                                           OverlayWindowManager& manager) {
    if (!impl_) {
        return nullptr;
    }
    return std::make_unique<LayerSurfaceWindow>(*impl_, impl_->outputFor(screen.id), manager);
}

Subscription LayerShellWindowSystem::observeScreenChanges(std::function<void()> onChange) {
    auto connection = std::make_shared<QMetaObject::Connection>(
        connect(this, &LayerShellWindowSystem::screensChanged, this, std::move(onChange)));
    return Subscription([connection] { QObject::disconnect(*connection); });
}

long LayerShellWindowSystem::framesPresented() const {
    return impl_ ? impl_->framesPresented : 0;
}

} // namespace tavrine
