/** @file
  A platform for the TavrixGopDxe sweeps: the host model with the display
  controller published and the driver's entry point run, and the checks that
  every sweep makes of what a Start, a Stop or a failed Start left behind.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef GOP_PLATFORM_H_
#define GOP_PLATFORM_H_

#include <HostModel.h>
#include <ReliabilitySweep.h>

#include "../../UefiTvx.h"

/// Attributes the controller holds before Start: one bit that Start enables
/// (memory decoding) and one it leaves alone (VGA I/O), so that a restore of
/// the saved value and a blanket disable give different results.
constexpr UINT64 GOP_INITIAL_ATTRIBUTES = EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_VGA_IO;

/// Decoding and bus mastering: what Start enables and Stop disables.
constexpr UINT64 GOP_ENABLED_ATTRIBUTES =
  EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER;

struct GOP_PLATFORM {
  HOST_MODEL Model;
  EFI_HANDLE Controller;
  size_t     DevicePathHandles; ///< handles with a device path before any Start

  GOP_PLATFORM ()
  {
    Controller = Model.Controller.Publish ();
    Model.Controller.SetAttributes (GOP_INITIAL_ATTRIBUTES);
    EXPECT_EQ (Model.StartModule (DisplayDriverEntryPoint), EFI_SUCCESS);
    DevicePathHandles = Model.HandlesWith (gEfiDevicePathProtocolGuid).size ();
  }

  /// The binding's Start, as the connect logic calls it after Supported.
  EFI_STATUS
  Start ()
  {
    return gDisplayDriverBinding.Start (&gDisplayDriverBinding, Controller, nullptr);
  }

  EFI_GRAPHICS_OUTPUT_PROTOCOL *
  Gop () const
  {
    return static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *> (Model.FindProtocol (Controller, gEfiGraphicsOutputProtocolGuid)
    );
  }

  /// Opens of the controller's PCI I/O held by the driver (any attribute).
  size_t
  DriverOpens () const
  {
    size_t Count = 0;

    for (const OPEN_RECORD &Open : Model.OpenRecords (Controller, gEfiPciIoProtocolGuid)) {
      Count += (Open.Agent == gDisplayDriverBinding.DriverBindingHandle) ? 1 : 0;
    }

    return Count;
  }

  /**
    What a Start that failed, or a Start undone by Stop, must leave: no pool
    or pages made since Mark, no GOP, no child handle, no open of PCI I/O by
    the driver, and the controller's attributes at Attributes.
  **/
  void
  ExpectNothingLeft (UINT64 Mark, UINT64 Attributes, const std::string &Where) const
  {
    EXPECT_EQ (Model.Memory.LeakReport (Mark), "") << Where;
    EXPECT_EQ (Gop (), nullptr) << Where << ": a GOP is still installed";
    EXPECT_TRUE (Model.HandlesWith (gEfiGraphicsOutputProtocolGuid).empty ()) << Where;
    EXPECT_EQ (Model.HandlesWith (gEfiDevicePathProtocolGuid).size (), DevicePathHandles)
      << Where << ": a child handle is left";
    EXPECT_EQ (DriverOpens (), 0u) << Where << ": PCI I/O is still open";
    EXPECT_EQ (Model.Controller.Attributes (), Attributes) << Where;
  }
};

#endif
