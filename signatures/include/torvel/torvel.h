#pragma once

// Everything libtorvel exports.

#include "torvel/Asn1Structures.h"
#include "torvel/Certificate.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/Cms.h"
#include "torvel/CmsFunctions.h"
#include "torvel/CmsHeader.h"
#include "torvel/Configuration.h"
#include "torvel/Database.h"
#include "torvel/FileWithCmses.h"
#include "torvel/Group.h"
#include "torvel/PackageFileFunctions.h"
#include "torvel/RotationChain.h"
#include "torvel/RotationFunctions.h"
#include "torvel/Verification.h"
