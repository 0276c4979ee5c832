################################################################################
#
# zel
#
################################################################################

ZEL_VERSION = 0.1.0
# The package lives in the source tree (packaging/buildroot); point ZEL_SITE at a
# release tarball or a git URL instead when the tree is elsewhere, or set
# ZEL_OVERRIDE_SRCDIR in local.mk.
ZEL_SITE = $(ZEL_PKGDIR)/../..
ZEL_SITE_METHOD = local
ZEL_INSTALL_STAGING = YES

# Buildroot's toolchain file, build type and DESTDIR install do the rest; the
# project fixes no compiler or CPU flag.
ZEL_CONF_OPTS = -DBUILD_TESTING=OFF -DZEL_WERROR=OFF

ifeq ($(BR2_PACKAGE_ZEL_SERVICE_SCRIPTS),y)
ZEL_CONF_OPTS += -DZEL_SERVICE_SCRIPTS=ON
endif

# The integrator's settings for a player whose flash holds none.
ZEL_DEFAULTS = $(call qstrip,$(BR2_PACKAGE_ZEL_DEFAULTS))
ifneq ($(ZEL_DEFAULTS),)
define ZEL_INSTALL_DEFAULTS
	$(INSTALL) -D -m 0644 $(ZEL_DEFAULTS) $(TARGET_DIR)/mnt/oak7210/etc/setting.defaults
endef
ZEL_POST_INSTALL_TARGET_HOOKS += ZEL_INSTALL_DEFAULTS
endif

$(eval $(cmake-package))
