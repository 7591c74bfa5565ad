/*
 * tavrix-display: the 0x19E5:0x1711 display controller as a QEMU PCI device.
 *
 * The controller's behaviour (register file, what the display shows, bank
 * registers, aperture bounds) lives in the portable core
 * TavrixDisplayCore.c, shared with the host test model; this file wires it
 * to QEMU:
 *   BAR 0   32 MiB prefetchable frame buffer (guest RAM of the device);
 *   BAR 1   1 MiB register file of 32-bit registers, kept by the core;
 *   ROM     QEMU's standard romfile= property;
 *   VGA     legacy VGA (0xA0000-0xBFFFF, ports 0x3B0-0x3BB and 0x3C0-0x3DF)
 *           through QEMU's own VGA emulation, registered with
 *           pci_register_vga so that the command register and any bridge's
 *           VGA enable route it; the core takes the extended CRT indices
 *           0x88 and 0xA5 and the bank ports 0x3CB/0x3CD;
 *   aperture the frame buffer again, linearly, at 0x92000000 on the root
 *           bus while configuration register 0x40 bit 0 and memory decoding
 *           are on.
 * The screen shows channel B's frame once the registers enable it and
 * describe a frame that fits BAR 0; until then the VGA text screen, which
 * reset leaves in 80 x 25 colour text with QEMU's VGA font loaded.
 *
 * Read-only QOM properties let a test see the device's side (qom-get):
 * bank, bank-selects, crtc-88, crtc-a5, display-width, display-height,
 * display-pitch, display-bpp, aperture-decodes.
 *
 * SPDX-License-Identifier: BSD-2-Clause-Patent
 */

#include "qemu/osdep.h"
#include "qemu/module.h"
#include "qemu/units.h"
#include "qapi/error.h"
#include "qapi/visitor.h"
#include "hw/pci/pci.h"
#include "hw/pci/pci_bus.h"
#include "migration/vmstate.h"
#include "ui/console.h"
#include "hw/display/vga_int.h"
#include "ui/vgafont.h"
#include "qom/object.h"

#include "TavrixDisplayCore.h"

#define TYPE_TAVRIX_DISPLAY "tavrix-display"
OBJECT_DECLARE_SIMPLE_TYPE(TavrixDisplayState, TAVRIX_DISPLAY)

struct TavrixDisplayState {
    PCIDevice parent_obj;

    VGACommonState vga;
    QemuConsole *con;
    MemoryRegion fb;
    MemoryRegion registers;
    MemoryRegion vga_io_lo;
    MemoryRegion vga_io_hi;
    MemoryRegion *vga_mem;
    MemoryRegion aperture;
    bool aperture_mapped;

    bool showing_frame;         /* the frame drew the console's last picture */

    TAVRIX_DISPLAY_CORE core;
};

/* ---- BAR 1: the register file ------------------------------------------ */

static uint64_t tavrix_register_read(void *opaque, hwaddr addr, unsigned size)
{
    TavrixDisplayState *s = opaque;

    return TavrixCoreReadRegisterBytes(&s->core, addr, size);
}

static void tavrix_register_write(void *opaque, hwaddr addr, uint64_t val,
                                  unsigned size)
{
    TavrixDisplayState *s = opaque;

    TavrixCoreWriteRegisterBytes(&s->core, addr, size, (uint32_t)val);
}

/*
 * A 64-bit access is two 32-bit ones, low word first, at any 4-aligned
 * offset. It reaches the device in one of two shapes: as one access of
 * size 8 (which the memory core splits at impl.max_access_size, once the
 * region says it takes an 8-byte access at an offset that is not a
 * multiple of 8), or, from QEMU's CPU emulation, which breaks any unaligned
 * store to a device into single bytes, as eight byte writes in ascending
 * order. So each register takes its bytes one by one as well; any access
 * within one register is accepted, wider ones must start a register.
 */
static bool tavrix_register_accepts(void *opaque, hwaddr addr, unsigned size,
                                    bool is_write, MemTxAttrs attrs)
{
    return size > 4 ? (addr & 3) == 0 : (addr & (size - 1)) == 0;
}

static const MemoryRegionOps tavrix_register_ops = {
    .read = tavrix_register_read,
    .write = tavrix_register_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
    .valid = { .min_access_size = 1, .max_access_size = 8, .unaligned = true,
               .accepts = tavrix_register_accepts },
    .impl = { .min_access_size = 1, .max_access_size = 4 },
};

/* ---- legacy VGA ports: the core's first, the rest to QEMU's VGA --------- */

static uint64_t tavrix_port_read(TavrixDisplayState *s, uint16_t port)
{
    uint8_t value;

    if (TavrixCorePortRead(&s->core, port, &value) == TavrixPortClaimed) {
        return value;
    }
    return vga_ioport_read(&s->vga, port);
}

static void tavrix_port_write(TavrixDisplayState *s, uint16_t port,
                              uint64_t val)
{
    if (TavrixCorePortWrite(&s->core, port, (uint8_t)val) == TavrixPortStandard) {
        vga_ioport_write(&s->vga, port, (uint8_t)val);
    }
}

static uint64_t tavrix_io_lo_read(void *opaque, hwaddr addr, unsigned size)
{
    return tavrix_port_read(opaque, 0x3b0 + addr);
}

static void tavrix_io_lo_write(void *opaque, hwaddr addr, uint64_t val,
                               unsigned size)
{
    tavrix_port_write(opaque, 0x3b0 + addr, val);
}

static uint64_t tavrix_io_hi_read(void *opaque, hwaddr addr, unsigned size)
{
    return tavrix_port_read(opaque, 0x3c0 + addr);
}

static void tavrix_io_hi_write(void *opaque, hwaddr addr, uint64_t val,
                               unsigned size)
{
    tavrix_port_write(opaque, 0x3c0 + addr, val);
}

/* Wider accesses (an outw of index and data) arrive as bytes, low first. */
static const MemoryRegionOps tavrix_io_lo_ops = {
    .read = tavrix_io_lo_read,
    .write = tavrix_io_lo_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
    .valid = { .min_access_size = 1, .max_access_size = 4 },
    .impl = { .min_access_size = 1, .max_access_size = 1 },
};

static const MemoryRegionOps tavrix_io_hi_ops = {
    .read = tavrix_io_hi_read,
    .write = tavrix_io_hi_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
    .valid = { .min_access_size = 1, .max_access_size = 4 },
    .impl = { .min_access_size = 1, .max_access_size = 1 },
};

/* ---- reset: 80 x 25 colour text, as a video BIOS would leave it --------- */

static const uint8_t text_sequencer[] = { 0x03, 0x00, 0x03, 0x00, 0x02 };
static const uint8_t text_crtc[] = {
    0x5f, 0x4f, 0x50, 0x82, 0x55, 0x81, 0xbf, 0x1f, 0x00, 0x4f, 0x0d, 0x0e,
    0x00, 0x00, 0x00, 0x00, 0x9c, 0x8e, 0x8f, 0x28, 0x1f, 0x96, 0xb9, 0xa3,
    0xff };
static const uint8_t text_graphics[] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0e, 0x00, 0xff };
static const uint8_t text_attribute[] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x14, 0x07, 0x38, 0x39, 0x3a, 0x3b,
    0x3c, 0x3d, 0x3e, 0x3f, 0x0c, 0x00, 0x0f, 0x08, 0x00 };

static void vga_indexed_write(VGACommonState *vga, uint16_t port,
                              uint8_t index, uint8_t value)
{
    vga_ioport_write(vga, port, index);
    vga_ioport_write(vga, port + 1, value);
}

/* The 8 x 16 font into plane 2, 32 bytes per character, as text mode reads it. */
static void load_text_font(VGACommonState *vga)
{
    unsigned ch, row;

    vga_indexed_write(vga, 0x3c4, 0x02, 0x04);   /* plane 2 only */
    vga_indexed_write(vga, 0x3c4, 0x04, 0x07);   /* sequential addressing */
    vga_indexed_write(vga, 0x3ce, 0x04, 0x02);
    vga_indexed_write(vga, 0x3ce, 0x05, 0x00);
    vga_indexed_write(vga, 0x3ce, 0x06, 0x04);   /* window at 0xA0000 */
    for (ch = 0; ch < 256; ch++) {
        for (row = 0; row < 32; row++) {
            vga_mem_writeb(vga, ch * 32 + row,
                           row < 16 ? vgafont16[ch * 16 + row] : 0);
        }
    }
    vga_indexed_write(vga, 0x3c4, 0x02, 0x03);   /* back to odd/even text */
    vga_indexed_write(vga, 0x3c4, 0x04, 0x02);
    vga_indexed_write(vga, 0x3ce, 0x04, 0x00);
    vga_indexed_write(vga, 0x3ce, 0x05, 0x10);
    vga_indexed_write(vga, 0x3ce, 0x06, 0x0e);   /* window at 0xB8000 */
}

static void set_text_mode(VGACommonState *vga)
{
    unsigned i;

    vga_ioport_write(vga, 0x3c2, 0x67);
    for (i = 0; i < sizeof(text_sequencer); i++) {
        vga_indexed_write(vga, 0x3c4, i, text_sequencer[i]);
    }
    for (i = 0; i < sizeof(text_crtc); i++) {
        vga_indexed_write(vga, 0x3d4, i, text_crtc[i]);
    }
    for (i = 0; i < sizeof(text_graphics); i++) {
        vga_indexed_write(vga, 0x3ce, i, text_graphics[i]);
    }
    vga_ioport_read(vga, 0x3da);               /* attribute flip-flop to index */
    for (i = 0; i < sizeof(text_attribute); i++) {
        vga_ioport_write(vga, 0x3c0, i);
        vga_ioport_write(vga, 0x3c0, text_attribute[i]);
    }
    vga_ioport_write(vga, 0x3c0, 0x20);        /* palette source: show it */

    /* The 64 EGA colours that the attribute registers select. */
    vga_ioport_write(vga, 0x3c8, 0);
    for (i = 0; i < 64; i++) {
        vga_ioport_write(vga, 0x3c9, (((i >> 2) & 1) * 2 + ((i >> 5) & 1)) * 21);
        vga_ioport_write(vga, 0x3c9, (((i >> 1) & 1) * 2 + ((i >> 4) & 1)) * 21);
        vga_ioport_write(vga, 0x3c9, ((i & 1) * 2 + ((i >> 3) & 1)) * 21);
    }
    load_text_font(vga);
    for (i = 0; i < 80 * 25; i++) {              /* grey blanks */
        vga_mem_writeb(vga, 0x18000 + 2 * i, ' ');
        vga_mem_writeb(vga, 0x18000 + 2 * i + 1, 0x07);
    }
    /* The index QEMU's VGA was left with is the core's too. */
    vga_ioport_write(vga, 0x3d4, 0);
}

/* ---- the aperture -------------------------------------------------------- */

static void tavrix_update_aperture(TavrixDisplayState *s)
{
    PCIDevice *d = PCI_DEVICE(s);
    int memory = pci_get_word(d->config + PCI_COMMAND) & PCI_COMMAND_MEMORY;
    bool decode = TavrixCoreApertureDecodes(&s->core, memory);

    memory_region_set_enabled(&s->aperture, decode);
}

static void tavrix_write_config(PCIDevice *d, uint32_t addr, uint32_t val,
                                int len)
{
    TavrixDisplayState *s = TAVRIX_DISPLAY(d);

    pci_default_write_config(d, addr, val, len);
    TavrixCoreWriteApertureControl(&s->core,
                                   d->config[TAVRIX_CONFIG_APERTURE_CONTROL]);
    tavrix_update_aperture(s);
}

/* ---- the screen ------------------------------------------------------- */

/*
 * The console's surface is not only ours: the VGA's updates resize or
 * replace it (its text refresh without drawing into it), so what the
 * frame last sized tells nothing. Before every frame, the surface must be
 * exactly the frame's size, 32 bits per pixel and our own memory (not the
 * VGA's, not the console's placeholder).
 */
static DisplaySurface *tavrix_frame_surface(TavrixDisplayState *s,
                                            const TAVRIX_DISPLAY_GEOMETRY *g)
{
    DisplaySurface *surface = qemu_console_surface(s->con);
    TAVRIX_SURFACE have = { 0 };

    if (surface && !is_placeholder(surface)) {
        have.Width = surface_width(surface);
        have.Height = surface_height(surface);
        have.BitsPerPixel = surface_bits_per_pixel(surface);
        have.Shared = is_buffer_shared(surface);
    }
    if (!TavrixCoreSurfaceFits(g, &have)) {
        surface = qemu_create_displaysurface(g->Width, g->Height);
        dpy_gfx_replace_surface(s->con, surface);
    }
    return surface;
}

static void tavrix_draw_frame(TavrixDisplayState *s,
                              const TAVRIX_DISPLAY_GEOMETRY *g)
{
    DisplaySurface *surface = tavrix_frame_surface(s, g);
    uint8_t *fb = memory_region_get_ram_ptr(&s->fb);
    uint32_t y;

    s->showing_frame = true;
    for (y = 0; y < g->Height; y++) {
        uint32_t *dest = (uint32_t *)(surface_data(surface) +
                                      y * surface_stride(surface));
        TavrixCoreConvertRow(&s->core, g, fb, TAVRIX_FRAME_BUFFER_SIZE, y, dest);
    }
    dpy_gfx_update_full(s->con);
}

/*
 * The console goes back to the VGA. Its updates assume a surface they sized
 * themselves (a blanked VGA clears its last screen size into whatever
 * surface it finds), so it gets one of its last screen size, and its next
 * update is a full one, in any mode, that sizes the surface anew.
 */
static void tavrix_console_to_vga(TavrixDisplayState *s)
{
    VGACommonState *vga = &s->vga;

    s->showing_frame = false;
    if (vga->last_scr_width > 0 && vga->last_scr_height > 0) {
        qemu_console_resize(s->con, vga->last_scr_width, vga->last_scr_height);
    }
    vga->graphic_mode = -1;
    vga->hw_ops->invalidate(vga);
}

static void tavrix_gfx_update(void *opaque)
{
    TavrixDisplayState *s = opaque;
    TAVRIX_DISPLAY_GEOMETRY g;

    if (TavrixCoreDisplayGeometry(&s->core, &g)) {
        tavrix_draw_frame(s, &g);
        return;
    }
    if (s->showing_frame) {
        tavrix_console_to_vga(s);
    }
    s->vga.hw_ops->gfx_update(&s->vga);
}

/* The frame is drawn whole on every update; only the VGA keeps state. */
static void tavrix_invalidate(void *opaque)
{
    TavrixDisplayState *s = opaque;

    s->vga.hw_ops->invalidate(&s->vga);
}

static void tavrix_text_update(void *opaque, console_ch_t *chardata)
{
    TavrixDisplayState *s = opaque;
    TAVRIX_DISPLAY_GEOMETRY g;

    if (!TavrixCoreDisplayGeometry(&s->core, &g)) {
        s->vga.hw_ops->text_update(&s->vga, chardata);
    }
}

static const GraphicHwOps tavrix_gfx_ops = {
    .invalidate = tavrix_invalidate,
    .gfx_update = tavrix_gfx_update,
    .text_update = tavrix_text_update,
};

/* ---- read-only properties for tests ------------------------------------ */

typedef struct {
    const char *name;
    uint32_t (*probe)(TavrixDisplayState *s);
} TavrixProbe;

static uint32_t probe_bank(TavrixDisplayState *s)
{
    return TavrixCoreBank(&s->core);
}

static uint32_t probe_bank_selects(TavrixDisplayState *s)
{
    return s->core.BankSelects;
}

static uint32_t probe_crtc_88(TavrixDisplayState *s)
{
    return s->core.CrtModeControl;
}

static uint32_t probe_crtc_a5(TavrixDisplayState *s)
{
    return s->core.CrtBankHigh;
}

static uint32_t probe_geometry(TavrixDisplayState *s, int field)
{
    TAVRIX_DISPLAY_GEOMETRY g;

    if (!TavrixCoreDisplayGeometry(&s->core, &g)) {
        return 0;
    }
    switch (field) {
    case 0:
        return g.Width;
    case 1:
        return g.Height;
    case 2:
        return g.Pitch;
    default:
        return g.BytesPerPixel * 8;
    }
}

static uint32_t probe_width(TavrixDisplayState *s)
{
    return probe_geometry(s, 0);
}

static uint32_t probe_height(TavrixDisplayState *s)
{
    return probe_geometry(s, 1);
}

static uint32_t probe_pitch(TavrixDisplayState *s)
{
    return probe_geometry(s, 2);
}

static uint32_t probe_bpp(TavrixDisplayState *s)
{
    return probe_geometry(s, 3);
}

static uint32_t probe_aperture(TavrixDisplayState *s)
{
    PCIDevice *d = PCI_DEVICE(s);

    return TavrixCoreApertureDecodes(
        &s->core, pci_get_word(d->config + PCI_COMMAND) & PCI_COMMAND_MEMORY);
}

static const TavrixProbe tavrix_probes[] = {
    { "bank", probe_bank },
    { "bank-selects", probe_bank_selects },
    { "crtc-88", probe_crtc_88 },
    { "crtc-a5", probe_crtc_a5 },
    { "display-width", probe_width },
    { "display-height", probe_height },
    { "display-pitch", probe_pitch },
    { "display-bpp", probe_bpp },
    { "aperture-decodes", probe_aperture },
};

static void tavrix_get_probe(Object *obj, Visitor *v, const char *name,
                             void *opaque, Error **errp)
{
    const TavrixProbe *probe = opaque;
    uint32_t value = probe->probe(TAVRIX_DISPLAY(obj));

    visit_type_uint32(v, name, &value, errp);
}

/* ---- device life ----------------------------------------------------- */

static void tavrix_reset(DeviceState *dev)
{
    TavrixDisplayState *s = TAVRIX_DISPLAY(dev);
    PCIDevice *d = PCI_DEVICE(dev);

    TavrixCoreReset(&s->core);
    d->config[TAVRIX_CONFIG_APERTURE_CONTROL] = 0;
    vga_common_reset(&s->vga);
    set_text_mode(&s->vga);
    /* The core follows the CRT to where the text mode set put it. */
    TavrixCorePortWrite(&s->core, TAVRIX_PORT_MISC_OUTPUT, s->vga.msr);
    TavrixCorePortWrite(&s->core, TAVRIX_PORT_CRT_INDEX, 0);
    s->showing_frame = false;
    tavrix_update_aperture(s);
}

static void tavrix_realize(PCIDevice *dev, Error **errp)
{
    TavrixDisplayState *s = TAVRIX_DISPLAY(dev);
    Object *obj = OBJECT(dev);
    PCIBus *root = pci_device_root_bus(dev);
    Error *err = NULL;

    s->vga.vram_size_mb = 1;           /* the VGA planes; BAR 0 is separate */
    if (!vga_common_init(&s->vga, obj, errp)) {
        return;
    }
    s->con = graphic_console_init(DEVICE(dev), 0, &tavrix_gfx_ops, s);
    s->vga.con = s->con;

    memory_region_init_ram(&s->fb, obj, "tavrix.fb", TAVRIX_FRAME_BUFFER_SIZE,
                           &err);
    if (err) {
        error_propagate(errp, err);
        return;
    }
    pci_register_bar(dev, TAVRIX_FRAME_BUFFER_BAR, PCI_BASE_ADDRESS_MEM_PREFETCH,
                     &s->fb);

    memory_region_init_io(&s->registers, obj, &tavrix_register_ops, s,
                          "tavrix.registers", TAVRIX_REGISTER_FILE_SIZE);
    pci_register_bar(dev, TAVRIX_REGISTER_BAR, PCI_BASE_ADDRESS_SPACE_MEMORY,
                     &s->registers);

    /* Legacy VGA: QEMU's VGA memory window, our port dispatch. */
    {
        const MemoryRegionPortio *vga_ports, *vbe_ports;

        s->vga_mem = vga_init_io(&s->vga, obj, &vga_ports, &vbe_ports);
    }
    memory_region_init_io(&s->vga_io_lo, obj, &tavrix_io_lo_ops, s,
                          "tavrix.vga-io-lo", 0xc);
    memory_region_init_io(&s->vga_io_hi, obj, &tavrix_io_hi_ops, s,
                          "tavrix.vga-io-hi", 0x20);
    pci_register_vga(dev, s->vga_mem, &s->vga_io_lo, &s->vga_io_hi);

    /* The fixed aperture: BAR 0 again, decoded on the root bus. */
    memory_region_init_alias(&s->aperture, obj, "tavrix.aperture", &s->fb, 0,
                             TAVRIX_APERTURE_SIZE);
    memory_region_set_enabled(&s->aperture, false);
    memory_region_add_subregion_overlap(root->address_space_mem,
                                        TAVRIX_APERTURE_BASE, &s->aperture, 1);

    dev->wmask[TAVRIX_CONFIG_APERTURE_CONTROL] = TAVRIX_APERTURE_ENABLE;

    for (size_t i = 0; i < ARRAY_SIZE(tavrix_probes); i++) {
        object_property_add(obj, tavrix_probes[i].name, "uint32",
                            tavrix_get_probe, NULL, NULL,
                            (void *)&tavrix_probes[i]);
    }
}

static void tavrix_exit(PCIDevice *dev)
{
    TavrixDisplayState *s = TAVRIX_DISPLAY(dev);

    memory_region_del_subregion(pci_device_root_bus(dev)->address_space_mem,
                                &s->aperture);
    graphic_console_close(s->con);
}

/*
 * What a saved machine needs of the device: the PCI state (configuration
 * space with register 0x40), the VGA's registers as vga-pci.c saves them,
 * the register file and the legacy extensions. The frame buffer and the VGA
 * planes are RAM and travel with the guest's memory.
 */
static int tavrix_post_load(void *opaque, int version_id)
{
    TavrixDisplayState *s = opaque;
    PCIDevice *d = PCI_DEVICE(s);

    TavrixCoreWriteApertureControl(&s->core,
                                   d->config[TAVRIX_CONFIG_APERTURE_CONTROL]);
    tavrix_update_aperture(s);
    /*
     * showing_frame says what this machine's console shows, not what the
     * guest programmed, and a state can be loaded into a machine that runs
     * without a reset (COLO's secondary does): if the frame drew the
     * console, the console goes back to the VGA as when the guest turns the
     * frame off, or the VGA's next update would draw into the frame's
     * surface. Either way the first update after the load is a full one.
     */
    if (s->showing_frame) {
        tavrix_console_to_vga(s);
    } else {
        s->vga.hw_ops->invalidate(&s->vga);
    }
    return 0;
}

static const VMStateDescription vmstate_tavrix_display = {
    .name = TYPE_TAVRIX_DISPLAY,
    .version_id = 1,
    .minimum_version_id = 1,
    .post_load = tavrix_post_load,
    .fields = (VMStateField[]) {
        VMSTATE_PCI_DEVICE(parent_obj, TavrixDisplayState),
        VMSTATE_STRUCT(vga, TavrixDisplayState, 0, vmstate_vga_common,
                       VGACommonState),
        VMSTATE_UINT32_ARRAY(core.Registers, TavrixDisplayState,
                             TAVRIX_REGISTER_COUNT),
        VMSTATE_UINT8(core.MiscOutput, TavrixDisplayState),
        VMSTATE_UINT8(core.CrtIndex, TavrixDisplayState),
        VMSTATE_UINT8(core.CrtModeControl, TavrixDisplayState),
        VMSTATE_UINT8(core.CrtBankHigh, TavrixDisplayState),
        VMSTATE_UINT8(core.BankMiddle, TavrixDisplayState),
        VMSTATE_UINT8(core.BankLow, TavrixDisplayState),
        VMSTATE_UINT32(core.BankSelects, TavrixDisplayState),
        VMSTATE_END_OF_LIST()
    }
};

static void tavrix_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);
    PCIDeviceClass *k = PCI_DEVICE_CLASS(klass);

    k->realize = tavrix_realize;
    k->exit = tavrix_exit;
    k->config_write = tavrix_write_config;
    k->vendor_id = TAVRIX_PCI_VENDOR_ID;
    k->device_id = TAVRIX_PCI_DEVICE_ID;
    k->class_id = PCI_CLASS_DISPLAY_VGA;
    dc->desc = "Tavrix display controller (0x19E5:0x1711)";
    dc->reset = tavrix_reset;
    dc->vmsd = &vmstate_tavrix_display;
    dc->hotpluggable = false;
    set_bit(DEVICE_CATEGORY_DISPLAY, dc->categories);
}

static const TypeInfo tavrix_display_info = {
    .name = TYPE_TAVRIX_DISPLAY,
    .parent = TYPE_PCI_DEVICE,
    .instance_size = sizeof(TavrixDisplayState),
    .class_init = tavrix_class_init,
    .interfaces = (InterfaceInfo[]) {
        { INTERFACE_CONVENTIONAL_PCI_DEVICE },
        { },
    },
};

static void tavrix_display_register_types(void)
{
    type_register_static(&tavrix_display_info);
}

type_init(tavrix_display_register_types)
